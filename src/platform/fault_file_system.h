// A FileSystem wrapper for tests that injects the failures real storage
// has: a failing Nth write or sync, a nearly full volume, and a crash that
// loses every write no Sync made durable.
//
// Crash model: for every file written through this object, the wrapper
// remembers its content at the last Sync (or when it was first opened for
// writing). SimulateCrash puts those contents back and removes files that
// did not exist then and were never synced. Renames and deletes are durable
// at once. Close every File of the wrapper before SimulateCrash.
//
// Thread safety: like the wrapped FileSystem.
#ifndef QUILL_PLATFORM_FAULT_FILE_SYSTEM_H_
#define QUILL_PLATFORM_FAULT_FILE_SYSTEM_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/file_system.h"

namespace quill {

class FaultInjectingFileSystem : public FileSystem {
 public:
  // base must outlive this object.
  explicit FaultInjectingFileSystem(FileSystem* base);

  // The nth File::WriteAt from now (1 = the next one) fails with EIO; with
  // sticky, every later write fails too. nth 0 disarms.
  void FailWrite(uint64_t nth, bool sticky = false);
  // The nth File::Sync from now fails with EIO. nth 0 disarms.
  void FailSync(uint64_t nth);
  // Makes FreeSpace report bytes everywhere; nullopt restores the truth.
  void SetFreeSpace(std::optional<uint64_t> bytes);
  void SimulateCrash();

  uint64_t write_count() const;  // File::WriteAt calls so far
  uint64_t sync_count() const;   // File::Sync calls so far

  std::unique_ptr<File> OpenRaw(const std::string& path, OpenMode mode,
                                uint32_t mode_bits) override;
  bool Exists(const std::string& path) override;
  bool Delete(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool MakeDirs(const std::string& dir) override;
  bool ListPrefix(const std::string& dir, const std::string& prefix,
                  std::vector<std::string>* names) override;
  bool SyncDir(const std::string& dir) override;
  bool FreeSpace(const std::string& path, uint64_t* bytes) override;
  bool ModifiedTimeNs(const std::string& path, int64_t* ns) override;

 private:
  class FaultFile;

  // What a crash would leave of one file.
  struct Durable {
    bool exists;    // false: the file would vanish
    Bytes content;  // its content when exists
  };

  bool NextWriteFails();
  bool NextSyncFails();
  void Track(const std::string& path);
  void MarkSynced(const std::string& path);

  FileSystem* const base_;
  mutable std::mutex mu_;
  // Everything below is guarded by mu_.
  uint64_t writes_ = 0;
  uint64_t syncs_ = 0;
  uint64_t fail_write_at_ = 0;  // absolute write number to fail; 0 none
  bool fail_write_sticky_ = false;
  uint64_t fail_sync_at_ = 0;   // absolute sync number to fail; 0 none
  std::optional<uint64_t> free_space_;
  std::map<std::string, Durable> durable_;  // by path, files written through us
};

}  // namespace quill

#endif  // QUILL_PLATFORM_FAULT_FILE_SYSTEM_H_
