// The file-system seam. Everything of the program that touches files goes
// through a FileSystem, so tests can swap in FaultInjectingFileSystem.
//
// Contract of every implementation:
// - Paths are UTF-8 with '/' separators. Failing calls return false (or
//   null) and set GetLastError() to an errno value.
// - File::ReadAt and File::WriteAt loop over short transfers: ReadAt stops
//   early only at the end of the file, WriteAt writes all bytes or fails.
// - Written data is durable only after File::Sync; a power cut may drop or
//   tear any write that no Sync followed. A file created, renamed or
//   deleted is durable in its directory only after SyncDir of that
//   directory. Rename replaces its target in one step.
// - Open for writing (kReadWrite, kCreate) refuses with ENOSPC when the
//   volume that holds the file has kMinFreeBytes or fewer bytes free, and
//   creates missing parent directories.
// - Thread safety: a FileSystem may be used from any thread; one File
//   object is used by one thread at a time.
#ifndef QUILL_PLATFORM_FILE_SYSTEM_H_
#define QUILL_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/bytes.h"

namespace quill {

class File {
 public:
  virtual ~File() = default;  // closes the file

  // Reads up to n bytes at offset into buf; *got is n except at the end.
  virtual bool ReadAt(uint64_t offset, void* buf, size_t n, size_t* got) = 0;
  virtual bool WriteAt(uint64_t offset, const void* buf, size_t n) = 0;
  virtual bool Truncate(uint64_t size) = 0;
  // Makes every earlier write durable (fdatasync).
  virtual bool Sync() = 0;
  virtual bool Size(uint64_t* size) = 0;
};

class FileSystem {
 public:
  // Writing needs more than this many bytes free on the file's volume.
  static constexpr uint64_t kMinFreeBytes = 32768;

  enum class OpenMode {
    kRead,       // existing file, read only
    kReadWrite,  // existing file, read and write
    kCreate,     // read and write, created (with its directories) if absent
  };

  virtual ~FileSystem() = default;

  // --- primitives -------------------------------------------------------
  // Opens without the free-space rule; `mode_bits` applies when creating.
  virtual std::unique_ptr<File> OpenRaw(const std::string& path, OpenMode mode,
                                        uint32_t mode_bits) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual bool Delete(const std::string& path) = 0;
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  // Creates the directory and its missing parents ("mkdir -p").
  virtual bool MakeDirs(const std::string& dir) = 0;
  // Names (not paths) of the entries of dir that start with prefix, sorted.
  virtual bool ListPrefix(const std::string& dir, const std::string& prefix,
                          std::vector<std::string>* names) = 0;
  // Makes renames and creations inside dir durable.
  virtual bool SyncDir(const std::string& dir) = 0;
  // Bytes free to an unprivileged writer on the volume that holds path (or
  // its nearest existing ancestor).
  virtual bool FreeSpace(const std::string& path, uint64_t* bytes) = 0;
  // Last modification of a file or directory, in nanoseconds since 1970. A
  // directory's changes when an entry is added, removed or renamed in it.
  virtual bool ModifiedTimeNs(const std::string& path, int64_t* ns) = 0;

  // --- composites, built on the primitives ------------------------------
  // OpenRaw with the free-space rule and parent creation for write modes.
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode, uint32_t mode_bits = 0644);
  // The whole file; false when it is missing or cannot be read completely.
  bool ReadFile(const std::string& path, Bytes* out);
  // Replaces path with contents so that a crash leaves either the old or the
  // new file, never a mix: temp file beside it, write, Sync, Rename, SyncDir.
  // The temp file is removed on failure.
  bool ReplaceAtomically(const std::string& path, ByteView contents, uint32_t mode_bits = 0644);
  // True when more than kMinFreeBytes are free where path would be written.
  bool HasRoomToWrite(const std::string& path);
};

// The process's POSIX file system.
FileSystem* DefaultFileSystem();

// The directory part of path ("" when it has none), without the last '/'.
std::string DirName(const std::string& path);

}  // namespace quill

#endif  // QUILL_PLATFORM_FILE_SYSTEM_H_
