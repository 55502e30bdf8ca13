// The request and response pipelines that every command job runs around its
// packed WireMessage:
//
//   request:  packed message -> CompressLayer -> CipherLayer (public-key
//             seal for login, EnvelopeCipher with the session key otherwise)
//   response: ResponseWrapper -> ticket -> CipherLayer -> CompressLayer ->
//             packed message
//
// Thread safety: the functions keep no state; the ServerTicket they are
// given is safe to share between workers.
#ifndef QUILL_PROTOCOL_ENVELOPE_H_
#define QUILL_PROTOCOL_ENVELOPE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/bytes.h"
#include "platform/crypto.h"
#include "protocol/cipher_layer.h"
#include "protocol/envelope_status.h"
#include "protocol/server_ticket.h"

namespace quill {
namespace protocol {

// What a request is sealed with.
struct RequestKeys {
  bool use_session = false;      // false: the login request, sealed with public_key
  PublicKeyText public_key;      // from the configuration, never from code
  ByteView session_key;          // the SessionKey text, for session requests
  ServerTicket* ticket = nullptr;  // echoed by session requests when not empty
};

// Replaces `*packed` by the HTTP request body. On failure `*packed` is left
// as it was and nothing must be sent.
int WrapRequest(Bytes* packed, const RequestKeys& keys);

// Unwraps an HTTP response body in place. On success `*result` is 0 and
// `*body` holds the packed response message, or `*result` is -3 (the session
// key expired) and `*body` is empty; the ticket is untouched by a -3. Any
// other wrapper result, or any layer failure, fails (the ticket may already
// have been replaced, as it is read before deciphering).
int UnwrapResponse(Bytes* body, ByteView key, ServerTicket* ticket, int32_t* result);

// The key a login response is enciphered with: the password text narrowed to
// 8 bits, each UTF-16 unit below 128 kept, every other unit "_".
std::string NarrowLoginKey(std::u16string_view password);

// --- The service side, for our gateway and for tests.

// Opens a request body: with `private_key` for the login request (which
// carries no ticket), else with `session_key`; the ticket it echoed, if any,
// goes to `*ticket`. `*packed` gets the packed request message.
int OpenRequest(ByteView body, const crypto::RsaKeyPair* private_key, ByteView session_key,
                Bytes* packed, Bytes* ticket);

// Seals a packed response message with `key` and a ticket (null: no tag 303;
// an empty view: tag 303 of length 0) into a wrapper with result 0.
int WrapResponse(ByteView packed, ByteView key, const ByteView* ticket, Bytes* body);

}  // namespace protocol
}  // namespace quill

#endif  // QUILL_PROTOCOL_ENVELOPE_H_
