// Unpacks arbitrary bytes as a packed message and as a framed body, then
// decodes the response head and repacks what was accepted.
#include <cstddef>
#include <cstdint>

#include "protocol/framed_codec.h"
#include "protocol/message_heads.h"
#include "protocol/wire_message.h"

using namespace quill::protocol;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  WireMessage m;
  if (m.Unpack(data, static_cast<int64_t>(size)) == CodecOk) {
    ResponseHead head;
    (void)DecodeResponseHead(m, static_cast<MessageType>(m.GetType()), &head);
    quill::Bytes again;
    if (m.Pack(&again) != CodecOk) __builtin_trap();
    WireMessage back;
    if (back.Unpack(again.data(), static_cast<int64_t>(again.size())) != CodecOk) __builtin_trap();
  }
  FramedCodec framed;
  (void)framed.LoadFramed(data, static_cast<int64_t>(size));
  return 0;
}
