// Runs the response pipeline over arbitrary bytes with a fixed session key,
// and each layer decoder on its own.
#include <cstddef>
#include <cstdint>

#include "protocol/cipher_layer.h"
#include "protocol/compress_layer.h"
#include "protocol/envelope.h"
#include "protocol/response_wrapper.h"
#include "protocol/wire_message.h"

using namespace quill;
using namespace quill::protocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  static ServerTicket ticket;
  const ByteView key(std::string_view("fuzz-session-key"));
  const ByteView input(data, size);

  Bytes body = input.ToBytes();
  int32_t result = 0;
  if (UnwrapResponse(&body, key, &ticket, &result) == kEnvOk && result == 0) {
    WireMessage m;
    (void)m.Unpack(body.data(), static_cast<int64_t>(body.size()));
  }
  Bytes out;
  int version = 0;
  (void)OpenCompressed(input, &out, &version);
  (void)OpenSession(input, key, &out, &version);
  (void)ReadTicket(input, &out);
  (void)ReadWrapper(input, &result, &out);
  return 0;
}
