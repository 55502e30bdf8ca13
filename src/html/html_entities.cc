#include "html/html_entities.h"

#include <cstdint>

#include "platform/utf.h"

namespace quill {
namespace html {
namespace {

struct NamedReference {
  std::string_view pattern;  // the reference, "&" and ";" included
  char replacement;          // the byte it stands for
};

constexpr NamedReference kNamed[] = {
    {"&lt;", '<'},    {"&gt;", '>'},    {"&amp;", '&'},  {"&nbsp;", ' '},
    {"&quot;", '"'},  {"&apos;", '\''}, {"&bull;", '*'},
};

void AppendCodePoint(uint32_t cp, std::string* out) {
  if (cp == 0 || IsSurrogate(cp) || cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

int DigitIn(char c, int base) {
  int d = 99;
  if (c >= '0' && c <= '9') d = c - '0';
  else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
  return d < base ? d : -1;
}

// Decodes the reference at in[i] ("&..."), appending its text. Returns the
// bytes consumed, or 0 when there is no reference here.
size_t DecodeOne(std::string_view in, size_t i, std::string* out) {
  const std::string_view rest = in.substr(i);
  if (rest.size() >= 2 && rest[1] == '#') {
    size_t j = 2;
    int base = 10;
    if (j < rest.size() && (rest[j] == 'x' || rest[j] == 'X')) {
      base = 16;
      ++j;
    }
    const size_t first_digit = j;
    uint32_t value = 0;
    for (int d; j < rest.size() && (d = DigitIn(rest[j], base)) >= 0; ++j) {
      value = value > 0x10FFFF ? value : value * base + d;  // saturates above the range
    }
    if (j == first_digit) return 0;
    if (j < rest.size() && rest[j] == ';') ++j;
    AppendCodePoint(value, out);
    return j;
  }
  for (const NamedReference& ref : kNamed) {
    if (rest.substr(0, ref.pattern.size()) == ref.pattern) {
      out->push_back(ref.replacement);
      return ref.pattern.size();
    }
  }
  return 0;
}

}  // namespace

void DecodeReferences(std::string_view in, LineEnds line_ends, std::string* out) {
  out->reserve(out->size() + in.size());
  const bool map_lines = line_ends == LineEnds::kToSpace;
  size_t i = 0;
  while (i < in.size()) {
    // Copy the plain run up to the next byte that needs a look.
    size_t run = i;
    while (run < in.size() && in[run] != '&' && (!map_lines || (in[run] != '\r' && in[run] != '\n'))) {
      ++run;
    }
    out->append(in.data() + i, run - i);
    i = run;
    if (i == in.size()) break;
    const char c = in[i];
    if (c == '&') {
      const size_t used = DecodeOne(in, i, out);
      if (used == 0) {
        out->push_back('&');
        ++i;
      } else {
        i += used;
      }
    } else {
      out->push_back(' ');
      i += (c == '\r' && i + 1 < in.size() && in[i + 1] == '\n') ? 2 : 1;
    }
  }
}

}  // namespace html
}  // namespace quill
