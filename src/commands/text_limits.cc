#include "commands/text_limits.h"

#include "platform/utf.h"

namespace quill {
namespace commands {

int GetBoundedText(const protocol::TagCodec& codec, uint32_t tag, size_t capacity, std::string* out) {
  ByteView v;
  const int status = codec.GetView(tag, &v);
  if (status != protocol::CodecOk) return status;
  if (v.size > capacity) return protocol::ErrMalformed;
  *out = v.ToString();
  return protocol::CodecOk;
}

int GetCutText(const protocol::TagCodec& codec, uint32_t tag, size_t capacity, std::string* out) {
  ByteView v;
  const int status = codec.GetView(tag, &v);
  if (status != protocol::CodecOk) return status;
  *out = std::string(CutUtf8(std::string_view(reinterpret_cast<const char*>(v.data), v.size), capacity));
  return protocol::CodecOk;
}

}  // namespace commands
}  // namespace quill
