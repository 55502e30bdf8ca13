#include "platform/registry_store.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <utility>

#include "platform/last_error.h"
#include "platform/utf.h"

namespace quill {
namespace {

using ValueMap = std::map<std::pair<std::string, std::string>, std::string>;

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

bool Unescape(const std::string& s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      *out += s[i];
      continue;
    }
    if (++i == s.size()) return false;
    switch (s[i]) {
      case '\\': *out += '\\'; break;
      case 't': *out += '\t'; break;
      case 'r': *out += '\r'; break;
      case 'n': *out += '\n'; break;
      default: return false;
    }
  }
  return true;
}

// Reads every value. A missing file is an empty store; an unreadable one fails.
bool Load(FileSystem* fs, const std::string& path, ValueMap* values) {
  values->clear();
  Bytes raw;
  if (!fs->ReadFile(path, &raw)) return !fs->Exists(path);
  std::string text(raw.begin(), raw.end());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    size_t t1 = line.find('\t');
    size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
    if (t2 == std::string::npos) continue;
    std::string key, name, value;
    if (!Unescape(line.substr(0, t1), &key) || !Unescape(line.substr(t1 + 1, t2 - t1 - 1), &name) ||
        !Unescape(line.substr(t2 + 1), &value)) {
      continue;
    }
    (*values)[{key, name}] = value;
  }
  return true;
}

bool Store(FileSystem* fs, const std::string& path, const ValueMap& values) {
  std::string text;
  for (const auto& [k, v] : values) {
    text += Escape(k.first) + '\t' + Escape(k.second) + '\t' + Escape(v) + '\n';
  }
  return fs->ReplaceAtomically(path, ByteView(text), 0600);
}

}  // namespace

RegistryStore::RegistryStore(FileSystem* fs, std::string dir)
    : fs_(fs), path_(std::move(dir) + "/registry") {}

bool RegistryStore::GetString(const std::u16string& key, const std::u16string& name,
                              std::u16string* value) {
  std::lock_guard<std::mutex> lock(mu_);
  ValueMap values;
  if (!Load(fs_, path_, &values)) return false;
  auto it = values.find({Utf16ToUtf8(key), Utf16ToUtf8(name)});
  if (it == values.end()) {
    SetLastError(ENOENT);
    return false;
  }
  *value = Utf8ToUtf16(it->second);
  return true;
}

bool RegistryStore::SetString(const std::u16string& key, const std::u16string& name,
                              const std::u16string& value) {
  std::lock_guard<std::mutex> lock(mu_);
  ValueMap values;
  if (!Load(fs_, path_, &values)) return false;  // never clobber what we could not read
  values[{Utf16ToUtf8(key), Utf16ToUtf8(name)}] = Utf16ToUtf8(value);
  return Store(fs_, path_, values);
}

bool RegistryStore::Delete(const std::u16string& key, const std::u16string& name) {
  std::lock_guard<std::mutex> lock(mu_);
  ValueMap values;
  if (!Load(fs_, path_, &values)) return false;
  if (values.erase({Utf16ToUtf8(key), Utf16ToUtf8(name)}) == 0) return true;
  return Store(fs_, path_, values);
}

std::string RegistryStore::DefaultDir() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/quillpost";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.config/quillpost";
}

}  // namespace quill
