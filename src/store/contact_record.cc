#include "store/contact_record.h"

#include <algorithm>
#include <cstring>

#include "store/le_bytes.h"
#include "platform/utf.h"

namespace quill {
namespace store {
namespace {

void FitText(std::string* text, uint32_t room) {
  text->resize(Utf8PrefixLength(*text, room - 1));
  // A NUL would end the text early when it is read back.
  text->resize(strnlen(text->c_str(), text->size()));
}

std::string ReadText(const uint8_t* at, uint32_t room) {
  const char* p = reinterpret_cast<const char*>(at);
  return std::string(p, strnlen(p, room - 1));
}

}  // namespace

void ContactRecord::Fit() {
  FitText(&name, kNameRoom);
  FitText(&address, kAddressRoom);
  FitText(&search1, kSearch1Room);
  FitText(&search2, kSearch2Room);
}

Bytes ContactRecord::Encode() const {
  ContactRecord fitted = *this;
  fitted.Fit();
  Bytes raw(kSize, 0);
  PutLe32(&raw[0], contact_id);
  PutLe32(&raw[4], rank);
  std::copy(fitted.name.begin(), fitted.name.end(), raw.begin() + kNameAt);
  std::copy(fitted.address.begin(), fitted.address.end(), raw.begin() + kAddressAt);
  std::copy(fitted.search1.begin(), fitted.search1.end(), raw.begin() + kSearch1At);
  std::copy(fitted.search2.begin(), fitted.search2.end(), raw.begin() + kSearch2At);
  return raw;
}

bool ContactRecord::Decode(ByteView raw) {
  if (raw.size != kSize) return false;
  contact_id = GetLe32(raw.data);
  rank = GetLe32(raw.data + 4);
  name = ReadText(raw.data + kNameAt, kNameRoom);
  address = ReadText(raw.data + kAddressAt, kAddressRoom);
  search1 = ReadText(raw.data + kSearch1At, kSearch1Room);
  search2 = ReadText(raw.data + kSearch2At, kSearch2Room);
  return true;
}

}  // namespace store
}  // namespace quill
