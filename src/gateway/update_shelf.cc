#include "gateway/update_shelf.h"

#include <charconv>
#include <algorithm>
#include <climits>
#include <string_view>

#include "platform/crypto.h"
#include "platform/hex.h"

namespace quill {
namespace gateway {
namespace {

// The value of line `key` ("key:value") at the front of *text, which then
// starts after the line; false when the line is not there.
bool TakeLine(std::string_view* text, std::string_view key, std::string_view* value) {
  if (text->substr(0, key.size()) != key || text->substr(key.size(), 1) != ":") return false;
  const size_t end = text->find('\n');
  *value = text->substr(key.size() + 1, end == std::string_view::npos ? end : end - key.size() - 1);
  text->remove_prefix(end == std::string_view::npos ? text->size() : end + 1);
  return true;
}

// Lower-case hexadecimal digits only: the name becomes a file name.
bool IsPackageName(std::string_view name) {
  if (name.size() != 32) return false;
  for (char c : name) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

template <typename T>
bool ParseNumber(std::string_view text, T* out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && ptr == text.data() + text.size();
}

}  // namespace

std::string VersionText(int32_t version) {
  const uint32_t v = static_cast<uint32_t>(version);
  return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." +
         std::to_string(v & 0xFF);
}

UpdateShelf::UpdateShelf(FileSystem* fs, std::string state_dir)
    : fs_(fs), dir_(std::move(state_dir) + "/" + kUpdatesDirName) {}

std::string UpdateShelf::PackagePath(const std::string& package) const {
  return dir_ + "/" + package + ".cab";
}

bool UpdateShelf::Current(UpdateRelease* out) const {
  Bytes raw;
  if (!fs_->ReadFile(dir_ + "/" + kReleaseFileName, &raw)) return false;
  std::string_view text(reinterpret_cast<const char*>(raw.data()), raw.size());
  std::string_view version, package, size;
  UpdateRelease release;
  if (!TakeLine(&text, "version", &version) || !TakeLine(&text, "package", &package) ||
      !TakeLine(&text, "size", &size) || text.substr(0, 6) != "notes:" ||
      !ParseNumber(version, &release.version) || release.version <= 0 ||
      !ParseNumber(size, &release.size) || release.size > INT32_MAX || !IsPackageName(package)) {
    return false;
  }
  release.package = std::string(package);
  release.notes = std::string(text.substr(6));
  *out = std::move(release);
  return true;
}

bool UpdateShelf::Publish(const std::string& file, int32_t version, const std::string& notes,
                          UpdateRelease* out, std::string* error) {
  if (version <= 0) {
    *error = "the version must be above 0";
    return false;
  }
  Bytes package;
  if (!fs_->ReadFile(file, &package)) {
    *error = file + ": cannot be read";
    return false;
  }
  // An offer of 0 bytes reads as nothing offered.
  if (package.empty()) {
    *error = file + ": empty";
    return false;
  }
  if (package.size() > INT32_MAX) {
    *error = file + ": larger than 2147483647 bytes";
    return false;
  }
  uint8_t digest[16];
  crypto::Md5(ByteView(package), digest);
  UpdateRelease release;
  release.version = version;
  release.package = HexEncodeLower(ByteView(digest, sizeof digest));
  release.size = package.size();
  release.notes = notes;
  UpdateRelease previous;
  const bool had_previous = Current(&previous);
  const std::string text = "version:" + std::to_string(version) + "\npackage:" + release.package +
                           "\nsize:" + std::to_string(release.size) + "\nnotes:" + notes;
  if (!fs_->MakeDirs(dir_) ||
      !fs_->ReplaceAtomically(PackagePath(release.package), ByteView(package)) ||
      !fs_->ReplaceAtomically(dir_ + "/" + kReleaseFileName, ByteView(text))) {
    *error = dir_ + ": cannot be written";
    return false;
  }
  if (had_previous && previous.package != release.package) {
    fs_->Delete(PackagePath(previous.package));
  }
  *out = std::move(release);
  return true;
}

bool UpdateShelf::ReadPiece(const UpdateRelease& release, uint64_t offset, size_t max,
                            Bytes* out) const {
  out->clear();
  std::unique_ptr<File> file = fs_->Open(PackagePath(release.package), FileSystem::OpenMode::kRead);
  uint64_t size = 0;
  if (file == nullptr || !file->Size(&size) || size != release.size || offset > size) return false;
  out->resize(static_cast<size_t>(std::min<uint64_t>(max, size - offset)));
  size_t got = 0;
  if (!out->empty() && (!file->ReadAt(offset, out->data(), out->size(), &got) || got != out->size())) {
    return false;
  }
  return true;
}

}  // namespace gateway
}  // namespace quill
