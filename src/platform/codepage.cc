#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

#include "platform/utf.h"

namespace quill {
namespace {

// One conversion descriptor, closed on every path.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts in[0..n) into out. On a sequence iconv refuses, calls
  // bad(position, out) which appends a replacement and returns how many
  // input bytes to skip.
  template <typename Bad>
  void Run(const char* in, size_t n, std::string* out, Bad bad) {
    char buf[256];
    while (n > 0) {
      char* dst = buf;
      size_t room = sizeof buf;
      char* src = const_cast<char*>(in);
      size_t left = n;
      size_t r = iconv(cd_, &src, &left, &dst, &room);
      out->append(buf, static_cast<size_t>(dst - buf));
      size_t used = n - left;
      in += used;
      n -= used;
      if (r == static_cast<size_t>(-1) && errno != E2BIG) {
        size_t skip = bad(in, n, out);
        if (skip > n) skip = n;
        in += skip;
        n -= skip;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      }
    }
  }

 private:
  iconv_t cd_;  // (iconv_t)-1 when the conversion is unavailable
};

}  // namespace

std::string Utf16ToCp936(std::u16string_view text) {
  std::string le;
  le.reserve(text.size() * 2);
  for (char16_t c : text) {
    le += static_cast<char>(c & 0xFF);
    le += static_cast<char>(c >> 8);
  }
  std::string out;
  Converter conv("CP936", "UTF-16LE");
  if (!conv.ok()) {
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
  }
  conv.Run(le.data(), le.size(), &out, [](const char* at, size_t n, std::string* o) -> size_t {
    o->push_back('?');
    if (n >= 4) {
      unsigned hi = static_cast<uint8_t>(at[0]) | (static_cast<uint8_t>(at[1]) << 8);
      unsigned lo = static_cast<uint8_t>(at[2]) | (static_cast<uint8_t>(at[3]) << 8);
      if (IsHighSurrogate(hi) && IsLowSurrogate(lo)) return 4;  // one pair
    }
    return 2;
  });
  return out;
}

std::u16string Cp936ToUtf16(std::string_view bytes) {
  std::string le;
  Converter conv("UTF-16LE", "CP936");
  if (conv.ok()) {
    conv.Run(bytes.data(), bytes.size(), &le, [](const char*, size_t, std::string* o) -> size_t {
      o->append("\xFD\xFF", 2);
      return 1;
    });
  }
  std::u16string out;
  out.reserve(le.size() / 2);
  for (size_t i = 0; i + 1 < le.size(); i += 2) {
    out += static_cast<char16_t>(static_cast<uint8_t>(le[i]) |
                                 (static_cast<uint8_t>(le[i + 1]) << 8));
  }
  return out;
}

}  // namespace quill
