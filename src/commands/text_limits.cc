#include "commands/text_limits.h"

namespace quill {
namespace commands {

std::string CutUtf8(std::string utf8, size_t limit) {
  if (utf8.size() <= limit) return utf8;
  size_t end = limit;
  // Step back over continuation bytes to the start of the cut character.
  while (end > 0 && (static_cast<uint8_t>(utf8[end]) & 0xC0) == 0x80) --end;
  utf8.resize(end);
  return utf8;
}

int GetBoundedText(const protocol::TagCodec& codec, uint32_t tag, size_t capacity, std::string* out) {
  ByteView v;
  const int status = codec.GetView(tag, &v);
  if (status != protocol::CodecOk) return status;
  if (v.size > capacity) return protocol::ErrMalformed;
  *out = v.ToString();
  return protocol::CodecOk;
}

}  // namespace commands
}  // namespace quill
