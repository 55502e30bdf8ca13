// ResponseWrapper: the HTTP response body, a codec (either mode) with
//   1 result of the exchange (0, -3 session key error, other: failure)
//   2 payload: a CipherLayer image, present and read only when 1 is 0
#ifndef QUILL_PROTOCOL_RESPONSE_WRAPPER_H_
#define QUILL_PROTOCOL_RESPONSE_WRAPPER_H_

#include <cstdint>

#include "platform/bytes.h"
#include "protocol/envelope_status.h"

namespace quill {
namespace protocol {

// Succeeds when tag 1 is readable and either it is non-zero (no payload
// read, `payload` emptied) or tag 2 was read (copied into `payload`).
int ReadWrapper(ByteView body, int32_t* result, Bytes* payload);

// The service side: a CompactMode wrapper with the result and, for result 0,
// the payload.
int WriteWrapper(int32_t result, ByteView payload, Bytes* out);

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_RESPONSE_WRAPPER_H_
