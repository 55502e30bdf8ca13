#include "store/config_file.h"

#include <cerrno>

#include "platform/last_error.h"

namespace quill {
namespace store {
namespace {

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

bool ValidKey(std::string_view key) {
  return !key.empty() && key.find_first_of(":\r\n") == std::string_view::npos;
}

std::u16string StripLineBreaks(std::u16string_view value) {
  std::u16string out;
  for (char16_t c : value) {
    if (c != u'\r' && c != u'\n') out += c;
  }
  return out;
}

}  // namespace

ConfigFile::ConfigFile(FileSystem* fs) : fs_(fs) {}

bool ConfigFile::SetPath(const std::string& path) {
  if (loaded_) return false;
  path_ = path;
  return true;
}

std::vector<std::u16string> ConfigFile::Parse(ByteView bytes) {
  size_t i = 0;
  if (bytes.size >= 2 && bytes.data[0] == 0xFF && bytes.data[1] == 0xFE) i = 2;
  std::u16string text;
  text.reserve(bytes.size / 2);
  for (; i + 1 < bytes.size; i += 2) {
    text += static_cast<char16_t>(bytes.data[i] | (bytes.data[i + 1] << 8));
  }
  std::vector<std::u16string> lines;
  if (text.empty()) return lines;
  size_t start = 0;
  for (;;) {
    size_t lf = text.find(u'\n', start);
    size_t end = lf == std::u16string::npos ? text.size() : lf;
    size_t cut = end;
    if (lf != std::u16string::npos && cut > start && text[cut - 1] == u'\r') --cut;
    lines.push_back(text.substr(start, cut - start));
    if (lf == std::u16string::npos) break;
    start = lf + 1;
  }
  return lines;
}

Bytes ConfigFile::Serialize() const {
  Bytes out;
  for (size_t n = 0; n < lines_.size(); ++n) {
    std::u16string line = lines_[n];
    if (n + 1 < lines_.size()) line += u"\r\n";
    for (char16_t c : line) {
      out.push_back(static_cast<uint8_t>(c & 0xFF));
      out.push_back(static_cast<uint8_t>(c >> 8));
    }
  }
  return out;
}

void ConfigFile::Load() {
  if (loaded_) return;
  loaded_ = true;
  Bytes raw;
  if (fs_->ReadFile(path_, &raw)) {
    lines_ = Parse(ByteView(raw));
  } else if (fs_->Exists(path_)) {
    unreadable_ = true;  // keep it: a set must not clobber what we could not read
  }
}

const std::u16string* ConfigFile::Find(std::string_view key) {
  Load();
  const std::u16string prefix = Widen(key) + u":";
  for (const std::u16string& line : lines_) {
    if (line.compare(0, prefix.size(), prefix) == 0) return &line;
  }
  return nullptr;
}

std::u16string ConfigFile::GetText(std::string_view key, std::u16string_view def) {
  const std::u16string* line = Find(key);
  if (!line) return std::u16string(def);
  return line->substr(key.size() + 1);
}

bool ConfigFile::ParseInteger(std::string_view key, uint64_t max_positive,
                              uint64_t max_negative, bool* negative, uint64_t* magnitude) {
  const std::u16string* line = Find(key);
  if (!line) return false;
  std::u16string_view v(*line);
  v.remove_prefix(key.size() + 1);
  size_t i = 0;
  while (i < v.size() && (v[i] == u' ' || v[i] == u'\t')) ++i;
  *negative = false;
  if (i < v.size() && (v[i] == u'+' || v[i] == u'-')) *negative = v[i++] == u'-';
  unsigned base = 10;
  if (i + 1 < v.size() && v[i] == u'0' && (v[i + 1] == u'x' || v[i + 1] == u'X')) {
    base = 16;
    i += 2;
  }
  const uint64_t limit = *negative ? max_negative : max_positive;
  uint64_t value = 0;
  size_t digits = 0;
  for (; i < v.size(); ++i, ++digits) {
    char16_t c = v[i];
    unsigned d;
    if (c >= u'0' && c <= u'9') {
      d = c - u'0';
    } else if (base == 16 && c >= u'a' && c <= u'f') {
      d = c - u'a' + 10;
    } else if (base == 16 && c >= u'A' && c <= u'F') {
      d = c - u'A' + 10;
    } else {
      break;
    }
    if (value > (limit - d) / base) return false;  // out of range
    value = value * base + d;
  }
  while (i < v.size() && (v[i] == u' ' || v[i] == u'\t')) ++i;
  if (digits == 0 || i != v.size()) return false;
  *magnitude = value;
  return true;
}

int32_t ConfigFile::GetInt(std::string_view key, int32_t def) {
  bool negative;
  uint64_t m;
  if (!ParseInteger(key, INT32_MAX, uint64_t{INT32_MAX} + 1, &negative, &m)) return def;
  return negative ? static_cast<int32_t>(-static_cast<int64_t>(m)) : static_cast<int32_t>(m);
}

uint32_t ConfigFile::GetUInt(std::string_view key, uint32_t def) {
  bool negative;
  uint64_t m;
  if (!ParseInteger(key, UINT32_MAX, uint64_t{INT32_MAX} + 1, &negative, &m)) return def;
  return negative ? static_cast<uint32_t>(0 - m) : static_cast<uint32_t>(m);
}

uint64_t ConfigFile::GetUInt64(std::string_view key, uint64_t def) {
  bool negative;
  uint64_t m;
  if (!ParseInteger(key, UINT64_MAX, uint64_t{INT64_MAX} + 1, &negative, &m)) return def;
  return negative ? 0 - m : m;
}

bool ConfigFile::SetText(std::string_view key, std::u16string_view value, bool save) {
  if (!ValidKey(key)) return false;
  Load();
  std::u16string line = Widen(key) + u":" + StripLineBreaks(value);
  const std::u16string prefix = Widen(key) + u":";
  bool replaced = false;
  for (std::u16string& l : lines_) {
    if (l.compare(0, prefix.size(), prefix) == 0) {
      l = line;
      replaced = true;
      break;
    }
  }
  if (!replaced) lines_.push_back(line);
  return !save || Save();
}

bool ConfigFile::SetInt(std::string_view key, int32_t value, bool save) {
  return SetText(key, Widen(std::to_string(value)), save);
}

bool ConfigFile::SetUInt(std::string_view key, uint32_t value, bool save) {
  return SetText(key, Widen(std::to_string(value)), save);
}

bool ConfigFile::SetUInt64(std::string_view key, uint64_t value, bool save) {
  return SetText(key, Widen(std::to_string(value)), save);
}

bool ConfigFile::Save() {
  Load();
  if (unreadable_) {
    SetLastError(EIO);
    return false;
  }
  Bytes bytes = Serialize();
  return fs_->ReplaceAtomically(path_, ByteView(bytes), 0600);
}

}  // namespace store
}  // namespace quill
