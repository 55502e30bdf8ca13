// Status of the envelope layers: 0 success, positive failure. These numbers
// never travel on the wire.
#ifndef QUILL_PROTOCOL_ENVELOPE_STATUS_H_
#define QUILL_PROTOCOL_ENVELOPE_STATUS_H_

namespace quill {
namespace protocol {

enum EnvelopeStatus : int {
  kEnvOk = 0,
  kEnvWriteFailed = 1,         // a field could not be written
  kEnvBadArgument = 2,         // missing input, output or key
  kEnvMalformed = 3,           // layer malformed, tag missing, lengths inconsistent
  kEnvBadVersion = 4,          // unsupported layer version
  kEnvCompressFailed = 5,      // zlib could not compress
  kEnvBadModulus = 6,          // modulus text not hexadecimal (sealing)
  kEnvDecompressFailed = 6,    // zlib could not restore exactly the declared bytes
  kEnvBadExponent = 7,         // exponent text not hexadecimal (sealing)
  kEnvMethodNotAllowed = 7,    // compression method not allowed for the version
  kEnvEncryptFailed = 8,       // a public-key block could not be encrypted
  kEnvCipherFailed = 11,       // the block cipher failed
  kEnvBadPadding = 12,         // padding invalid after deciphering
  kEnvNoTicket = 13,           // the layer carries no ServerTicket (not an error)
};

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_ENVELOPE_STATUS_H_
