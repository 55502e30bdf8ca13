// Status codes of the tag codec. Negative means failure; none of these
// numbers ever travels on the wire.
#ifndef QUILL_PROTOCOL_CODEC_STATUS_H_
#define QUILL_PROTOCOL_CODEC_STATUS_H_

namespace quill {
namespace protocol {

enum CodecStatus : int {
  CodecOk = 0,
  ErrNoMemory = -1,     // allocation failed
  ErrNoSpace = -2,      // the field could not be reserved in the buffer
  ErrBadSize = -3,      // a size is negative, overflows, or an input is too short
  ErrBadArgument = -4,  // a required pointer is missing, or the codec is read-only
  ErrMalformed = -5,    // an image fails validation, or a field cannot be parsed
  ErrNotPresent = -6,   // no field with the tag, or the codec is empty
  ErrTooSmall = -7,     // the caller's buffer is smaller than the value
  ErrBadMode = -8,      // the mode byte is neither 0 nor 1
};

// A short English name for diagnostics ("ErrMalformed").
const char* CodecStatusName(int status);

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_CODEC_STATUS_H_
