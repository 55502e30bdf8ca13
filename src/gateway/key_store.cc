#include "gateway/key_store.h"

#include <string_view>

namespace quill {
namespace gateway {
namespace {

std::string FormatKey(const crypto::RsaPrivateText& k) {
  return "N:" + k.modulus + "\nE:" + k.public_exponent + "\nD:" + k.private_exponent +
         "\nP:" + k.prime1 + "\nQ:" + k.prime2 + "\n";
}

bool ParseKey(std::string_view text, crypto::RsaPrivateText* k) {
  std::string* fields[] = {&k->modulus, &k->public_exponent, &k->private_exponent, &k->prime1,
                           &k->prime2};
  const char names[] = {'N', 'E', 'D', 'P', 'Q'};
  bool seen[5] = {};
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (line.size() < 3 || line[1] != ':') return false;
    int which = -1;
    for (int i = 0; i < 5; ++i) {
      if (line[0] == names[i]) which = i;
    }
    if (which < 0 || seen[which]) return false;
    seen[which] = true;
    *fields[which] = std::string(line.substr(2));
  }
  for (bool s : seen) {
    if (!s) return false;
  }
  return true;
}

}  // namespace

bool LoadOrCreateServerKey(FileSystem* fs, const std::string& path, crypto::RsaKeyPair* key,
                           std::string* error) {
  crypto::RsaPrivateText text;
  if (fs->Exists(path)) {
    Bytes data;
    if (!fs->ReadFile(path, &data)) {
      *error = path + ": cannot be read";
      return false;
    }
    if (!ParseKey(ByteView(data).ToString(), &text) || !key->Import(text)) {
      *error = path + ": not a valid key file (remove it to make a new key; clients then need the new client.cfg)";
      return false;
    }
    return true;
  }
  if (!key->Generate(kServerKeyBits) || !key->Export(&text)) {
    *error = "the key pair could not be generated";
    return false;
  }
  if (!fs->ReplaceAtomically(path, ByteView(FormatKey(text)), 0600)) {
    *error = path + ": cannot be written";
    return false;
  }
  return true;
}

}  // namespace gateway
}  // namespace quill
