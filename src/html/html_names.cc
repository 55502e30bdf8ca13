#include "html/html_names.h"

namespace quill {
namespace html {
namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameLetters(std::string_view name, std::string_view upper) {
  for (size_t i = 0; i < upper.size(); ++i) {
    if (Upper(name[i]) != upper[i]) return false;
  }
  return true;
}

}  // namespace

bool NameIs(std::string_view name, std::string_view upper) {
  return name.size() == upper.size() && SameLetters(name, upper);
}

bool NameBegins(std::string_view name, std::string_view upper) {
  return name.size() >= upper.size() && SameLetters(name, upper);
}

bool IsBoldTag(std::string_view name) { return NameIs(name, "B") || NameIs(name, "STRONG"); }

bool IsItalicTag(std::string_view name) { return NameIs(name, "I") || NameIs(name, "EM"); }

int BlockEndBreaks(std::string_view end_tag) {
  int breaks = 0;
  if (NameBegins(end_tag, "TABLE") || NameBegins(end_tag, "DIV") || NameBegins(end_tag, "TR")) {
    ++breaks;
  }
  if (NameBegins(end_tag, "P")) ++breaks;
  if (NameBegins(end_tag, "L")) ++breaks;
  if (NameBegins(end_tag, "LI")) ++breaks;
  return breaks;
}

bool IsBlank(std::string_view text) {
  for (char c : text) {
    if (c != '\t' && c != ' ' && c != '\n' && c != '\r') return false;
  }
  return true;
}

}  // namespace html
}  // namespace quill
