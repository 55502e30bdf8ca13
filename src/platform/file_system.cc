#include "platform/file_system.h"

#include <cerrno>

#include "platform/crypto.h"
#include "platform/hex.h"
#include "platform/last_error.h"

namespace quill {

std::string DirName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool FileSystem::HasRoomToWrite(const std::string& path) {
  uint64_t free_bytes = 0;
  if (!FreeSpace(path, &free_bytes)) return false;
  if (free_bytes <= kMinFreeBytes) {
    SetLastError(ENOSPC);
    return false;
  }
  return true;
}

std::unique_ptr<File> FileSystem::Open(const std::string& path, OpenMode mode,
                                       uint32_t mode_bits) {
  if (mode != OpenMode::kRead) {
    std::string dir = DirName(path);
    if (mode == OpenMode::kCreate && !dir.empty() && !MakeDirs(dir)) return nullptr;
    if (!HasRoomToWrite(path)) return nullptr;
  }
  return OpenRaw(path, mode, mode_bits);
}

bool FileSystem::ReadFile(const std::string& path, Bytes* out) {
  std::unique_ptr<File> file = OpenRaw(path, OpenMode::kRead, 0);
  uint64_t size = 0;
  if (!file || !file->Size(&size)) return false;
  if (size > SIZE_MAX / 2) {
    SetLastError(EFBIG);
    return false;
  }
  out->resize(static_cast<size_t>(size));
  size_t got = 0;
  if (!file->ReadAt(0, out->data(), out->size(), &got)) return false;
  out->resize(got);  // the file may have shrunk since Size
  return true;
}

bool FileSystem::ReplaceAtomically(const std::string& path, ByteView contents,
                                   uint32_t mode_bits) {
  // A random suffix keeps two writers of the same file off each other's temp.
  uint8_t salt[4] = {0, 0, 0, 0};
  crypto::RandomBytes(salt, sizeof salt);
  const std::string temp = path + ".tmp" + HexEncodeLower(ByteView(salt, sizeof salt));
  std::unique_ptr<File> file = Open(temp, OpenMode::kCreate, mode_bits);
  if (!file) return false;
  bool ok = file->Truncate(0) && file->WriteAt(0, contents.data, contents.size) && file->Sync();
  file.reset();
  if (ok) ok = Rename(temp, path);
  if (!ok) {
    uint32_t error = GetLastError();
    Delete(temp);
    SetLastError(error);
    return false;
  }
  std::string dir = DirName(path);
  return SyncDir(dir.empty() ? "." : dir);
}

}  // namespace quill
