#include "tools/cli/text_fields.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

#include "store/filetime.h"
#include "platform/utf.h"

namespace quill {
namespace cli {

bool ParseU32(const std::string& text, uint32_t* out) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || v > UINT32_MAX) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

uint32_t MailIdArg(const std::string& text) {
  uint32_t id = 0;
  return ParseU32(text, &id) ? id : 0;
}

std::string FormatDate(uint64_t filetime) {
  const time_t t = static_cast<time_t>(store::SecondsFromFiletime(filetime));
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[32];
  strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
  return buf;
}

std::string Field(const std::u16string& text) {
  std::string out = Utf16ToUtf8(text);
  for (char& c : out) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

}  // namespace cli
}  // namespace quill
