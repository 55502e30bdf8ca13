#include "store/folder_record.h"

#include <algorithm>
#include <cstring>

#include "platform/utf.h"
#include "store/le_bytes.h"
#include "platform/utf.h"

namespace quill {
namespace store {

FolderRecord::FolderRecord(uint32_t folder_id, const std::u16string& name) : raw_(kSize, 0) {
  PutLe32(raw_.data(), folder_id);
  set_name(name);
}

bool FolderRecord::Decode(ByteView raw) {
  if (raw.size != kSize) return false;
  raw_.assign(raw.begin(), raw.end());
  return true;
}

uint32_t FolderRecord::folder_id() const { return GetLe32(raw_.data()); }

std::u16string FolderRecord::name() const {
  const char* p = reinterpret_cast<const char*>(raw_.data() + kNameAt);
  return Utf8ToUtf16(std::string_view(p, strnlen(p, kNameRoom - 1)));
}

void FolderRecord::set_name(const std::u16string& name) {
  std::fill(raw_.begin() + kNameAt, raw_.begin() + kNameAt + kNameRoom, 0);
  const std::string utf8 = Utf16ToUtf8(name);
  std::string_view cut = CutUtf8(utf8, kNameRoom - 1);
  std::copy(cut.begin(), cut.end(), raw_.begin() + kNameAt);
}

}  // namespace store
}  // namespace quill
