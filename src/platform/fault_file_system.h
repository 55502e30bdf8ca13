// A FileSystem wrapper for tests that injects the failures real storage
// has: a failing Nth write or sync, a nearly full volume, the power going
// at a chosen moment, and what a power cut leaves on the disk.
//
// Power-cut model. The wrapper shadows every file opened for writing
// through it (by node, so a rename carries its state along) and every
// directory entry it creates, renames or deletes:
// - Data. What a file held at its last File::Sync (or when the wrapper
//   first saw it) is durable; every write and truncate since then is
//   pending. At a cut each pending write, taken one 512-byte sector of the
//   file at a time, independently survives, is lost, or is torn (a prefix
//   of its bytes in that sector lands); each pending truncate survives or
//   is lost. The survivors apply in their order over the durable content.
// - Names. The entry changes of each directory since its last SyncDir
//   (file created, deleted or renamed into it, subdirectory made) form a
//   log; at a cut a random prefix of each log survives and the rest is
//   undone, newest first. An undone subdirectory loses every file in it
//   (the empty directory itself is left).
// SimulateCrash is the all-or-nothing case: every pending write and
// truncate is lost, every entry change stays, except that a file created
// and never synced vanishes.
//
// FreezeAfter(n) lets the power go in the middle of the work under test:
// after n more changing calls (write, truncate, sync, open with create,
// delete, rename, mkdir, directory sync) every changing call fails with
// EIO and changes nothing; reads still work. A cut thaws.
//
// Syncs reach the model only: the real disk is never synced (nothing real
// is at stake in a test, and syncs are slow). Close every File of the
// wrapper before a cut; files opened after it start a new shadow.
//
// Thread safety: every operation holds one lock.
#ifndef QUILL_PLATFORM_FAULT_FILE_SYSTEM_H_
#define QUILL_PLATFORM_FAULT_FILE_SYSTEM_H_

#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace quill {

class FaultInjectingFileSystem : public FileSystem {
 public:
  static constexpr size_t kSectorSize = 512;

  // base must outlive this object.
  explicit FaultInjectingFileSystem(FileSystem* base);

  // The nth File::WriteAt from now (1 = the next one) fails with error
  // (EIO, or ENOSPC for a full volume); with sticky, every later write
  // fails too. nth 0 disarms.
  void FailWrite(uint64_t nth, bool sticky = false, uint32_t error = EIO);
  // The nth File::Sync from now fails with EIO. nth 0 disarms.
  void FailSync(uint64_t nth);
  // Makes FreeSpace report bytes everywhere; nullopt restores the truth.
  void SetFreeSpace(std::optional<uint64_t> bytes);

  // The power goes after n more changing calls (0: at the next one).
  void FreezeAfter(uint64_t n);
  bool frozen() const;
  // A power cut after the model above; seed picks every choice, so a cut
  // is reproducible.
  void CutPower(uint64_t seed);
  // A power cut that loses every pending write (see above).
  void SimulateCrash();

  uint64_t write_count() const;   // File::WriteAt calls so far
  uint64_t sync_count() const;    // File::Sync calls so far
  uint64_t change_count() const;  // changing calls so far, failed ones too

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

  // One write (data) or truncate (no data, offset is the new size) since
  // the node's last sync.
  struct Change {
    bool truncate;   // a truncate, else a write
    uint64_t offset; // where the write starts, or the size cut to
    Bytes data;      // the bytes written
  };
  // A file's content as a cut sees it.
  struct Node {
    Bytes durable;                // content at the last sync
    std::vector<Change> pending;  // since then, in order
    bool ever_synced = false;     // Sync ran since the wrapper made it
    bool created = false;         // the wrapper created it
  };
  // One directory entry change.
  struct EntryChange {
    enum Kind { kCreate, kDelete, kRename, kMakeDir } kind;
    std::string path;  // the entry changed (the target of a rename)
    std::string from;  // the source of a rename
    int node;          // the file created, deleted or renamed (-1 for kMakeDir)
    int displaced;     // the file a rename replaced, else -1
  };

  // Counts a changing call; false (EIO set) when the power is gone.
  bool CountChange();
  bool NextWriteFails();
  bool NextSyncFails();
  // The node behind a path, adopting an existing file the wrapper has not
  // seen (its content is durable); -1 when there is no file. mu_ held.
  int NodeAt(const std::string& path);
  int NewNode(Bytes durable, bool created);
  void Log(const std::string& dir, EntryChange change);
  void RecordWrite(int node, uint64_t offset, const void* data, size_t n);
  void RecordTruncate(int node, uint64_t size);
  void MarkSynced(int node);
  // What a cut leaves: chosen entry changes undone, chosen data applied.
  void Cut(bool all_or_nothing, uint64_t seed);
  // A node's content after a cut that loses a pending write's sector with
  // probability lost and tears it with probability torn.
  static Bytes CutContent(const Node& node, double lost, double torn, std::mt19937_64* rng);
  static void Apply(const Change& change, Bytes* content);

  FileSystem* const base_;
  mutable std::mutex mu_;
  // Everything below is guarded by mu_.
  uint64_t writes_ = 0;
  uint64_t syncs_ = 0;
  uint64_t changes_ = 0;
  uint64_t fail_write_at_ = 0;  // absolute write number to fail; 0 none
  bool fail_write_sticky_ = false;
  uint32_t fail_write_error_ = 0;  // errno the failing writes set
  uint64_t fail_sync_at_ = 0;   // absolute sync number to fail; 0 none
  uint64_t freeze_at_ = 0;      // changes_ value at which the power goes; 0 never
  bool frozen_ = false;
  std::optional<uint64_t> free_space_;
  std::vector<Node> nodes_;                          // by node id
  std::map<std::string, int> names_;                 // live path -> node, files seen only
  std::map<std::string, std::vector<EntryChange>> logs_;  // by directory, since its sync
};

}  // namespace quill

#endif  // QUILL_PLATFORM_FAULT_FILE_SYSTEM_H_
