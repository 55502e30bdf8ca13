#include "store/image_cache.h"

#include <vector>

#include "platform/crypto.h"
#include "platform/hex.h"
#include "platform/utf.h"

namespace quill {
namespace store {
namespace {

constexpr size_t kMaxSuffixLetters = 8;

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string UrlDigest(std::u16string_view url) {
  uint8_t digest[16];
  crypto::Md5(ByteView(Utf16ToUtf8(url)), digest);
  return HexEncode(ByteView(digest, sizeof digest));
}

// A number as std::to_string writes it: no sign, no leading zero.
bool IsDigits(std::string_view s) {
  if (s.empty() || s.size() > 10 || (s.size() > 1 && s[0] == '0')) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

std::string ImageCacheBase(std::u16string_view url, uint32_t width, uint32_t height) {
  return UrlDigest(url) + "_" + std::to_string(width) + "x" + std::to_string(height);
}

std::string ImageCacheSuffix(std::string_view suffix) {
  if (suffix.size() < 2 || suffix.size() > kMaxSuffixLetters + 1 || suffix[0] != '.') return "";
  std::string out = ".";
  for (char c : suffix.substr(1)) {
    if (!IsAsciiAlnum(c)) return "";
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (out == ".temp" || out == ".version") return "";
  return out;
}

bool IsImageCacheName(std::string_view name, std::string_view base) {
  if (name.substr(0, base.size()) != base) return false;
  const std::string_view rest = name.substr(base.size());
  return rest.empty() || ImageCacheSuffix(rest) == rest;
}

std::string FindCachedImage(FileSystem* fs, const std::string& dir, const std::string& base) {
  std::vector<std::string> names;
  if (!fs->ListPrefix(dir, base, &names)) return "";
  for (const std::string& name : names) {
    if (IsImageCacheName(name, base)) return dir + name;
  }
  return "";
}

std::string FindCachedImageAnySize(FileSystem* fs, const std::string& dir,
                                   std::u16string_view url) {
  const std::string digest = UrlDigest(url) + "_";
  std::vector<std::string> names;
  if (!fs->ListPrefix(dir, digest, &names)) return "";
  for (const std::string& name : names) {
    // <digest>_<width>x<height>[suffix]
    const std::string_view rest = std::string_view(name).substr(digest.size());
    const size_t x = rest.find('x');
    if (x == std::string_view::npos || !IsDigits(rest.substr(0, x))) continue;
    const size_t end = rest.find('.', x);
    const std::string_view height = rest.substr(x + 1, end == std::string_view::npos ? end : end - x - 1);
    if (!IsDigits(height)) continue;
    const std::string_view base = std::string_view(name).substr(0, digest.size() + x + 1 + height.size());
    if (IsImageCacheName(name, base)) return dir + name;
  }
  return "";
}

}  // namespace store
}  // namespace quill
