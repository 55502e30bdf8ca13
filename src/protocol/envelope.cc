#include "protocol/envelope.h"

#include "protocol/compress_layer.h"
#include "protocol/message_heads.h"
#include "protocol/response_wrapper.h"

namespace quill {
namespace protocol {

int WrapRequest(Bytes* packed, const RequestKeys& keys) {
  if (packed == nullptr) return kEnvBadArgument;
  Bytes compressed;
  int status = SealCompressed(*packed, &compressed, kCompressAuto, kCompressVersion1002);
  if (status != kEnvOk) return status;
  Bytes sealed;
  if (!keys.use_session) {
    status = SealPublic(keys.public_key, compressed, &sealed);
  } else {
    const Bytes ticket = keys.ticket != nullptr ? keys.ticket->Get() : Bytes();
    status = SealSession(compressed, keys.session_key, &sealed, ticket);
  }
  if (status != kEnvOk) return status;
  *packed = std::move(sealed);
  return kEnvOk;
}

int UnwrapResponse(Bytes* body, ByteView key, ServerTicket* ticket, int32_t* result) {
  if (body == nullptr || result == nullptr) return kEnvBadArgument;
  int32_t wrapper_result = 0;
  Bytes payload;
  int status = ReadWrapper(*body, &wrapper_result, &payload);
  if (status != kEnvOk) return status;
  if (wrapper_result == kSessionKeyError) {
    body->clear();
    *result = kSessionKeyError;
    return kEnvOk;
  }
  if (wrapper_result != 0) return kEnvMalformed;

  Bytes new_ticket;
  status = ReadTicket(payload, &new_ticket);
  if (status == kEnvOk) {
    if (ticket != nullptr) ticket->Replace(new_ticket);
  } else if (status != kEnvNoTicket) {
    return status;
  }
  Bytes compressed;
  int version = 0;
  status = OpenSession(payload, key, &compressed, &version);
  if (status != kEnvOk) return status;
  Bytes packed;
  status = OpenCompressed(compressed, &packed, &version);
  if (status != kEnvOk) return status;
  *body = std::move(packed);
  *result = 0;
  return kEnvOk;
}

std::string NarrowLoginKey(std::u16string_view password) {
  std::string key;
  key.reserve(password.size());
  for (char16_t unit : password) key.push_back(unit < 128 ? static_cast<char>(unit) : '_');
  return key;
}

int OpenRequest(ByteView body, const crypto::RsaKeyPair* private_key, ByteView session_key,
                Bytes* packed, Bytes* ticket) {
  if (packed == nullptr || ticket == nullptr) return kEnvBadArgument;
  ticket->clear();
  Bytes compressed;
  int version = 0;
  int status;
  if (private_key != nullptr) {
    status = OpenPublic(*private_key, body, &compressed);
  } else {
    status = ReadTicket(body, ticket);
    if (status != kEnvOk && status != kEnvNoTicket) return status;
    status = OpenSession(body, session_key, &compressed, &version);
  }
  if (status != kEnvOk) return status;
  return OpenCompressed(compressed, packed, &version);
}

int WrapResponse(ByteView packed, ByteView key, const ByteView* ticket, Bytes* body) {
  if (body == nullptr) return kEnvBadArgument;
  Bytes compressed;
  int status = SealCompressed(packed, &compressed);
  if (status != kEnvOk) return status;
  Bytes sealed;
  status = SealSessionWithTicket(compressed, key, &sealed, ticket);
  if (status != kEnvOk) return status;
  return WriteWrapper(0, sealed, body);
}

}  // namespace protocol
}  // namespace quill
