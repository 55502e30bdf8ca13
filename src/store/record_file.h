// The slotted record file behind "mails.idx", "folders.idx" and
// "address.txt": a 64-byte "NX" header, then numbered fixed-size slots of S
// bytes (8-byte slot header: record id, next slot; then S - 8 payload
// bytes). Used slots form a chain from the newest record to the oldest;
// free slots form a free list. Record ids are last id + 1 and never reused.
//
// Changes are transactions. A change is held in memory until it is
// committed; a commit first saves the bytes it will overwrite in the
// rollback journal beside the file (see rollback_journal.h) and syncs it,
// then writes and syncs the file, then makes the journal cold. A power cut
// at any moment therefore leaves the file as one commit or the next, never
// a mix: opening rolls a hot journal back first. Outside a group every
// change is committed before it returns; between BeginGroup and EndGroup
// changes collect until Commit (past kSpillBytes they are written early,
// still under the journal). A change that is not committed when the object
// is destroyed is lost, as in a crash.
//
// States:
//   state    | on disk                              | goes to
//   ---------+--------------------------------------+---------------------------
//   closed   | the last commit, maybe a hot journal | clean: Open() (rolls back)
//   clean    | the last commit, journal cold        | held: a change
//   held     | the last commit; changes in memory   | written: a spill
//            |                                      | clean: Commit()
//   written  | uncommitted changes, journal hot     | clean: Commit()
//            | (more may be held in memory)         |
//   any      |                                      | closed: a write, sync or
//            |                                      | commit fails (failures()
//            |                                      | goes up; the next use
//            |                                      | reopens at the last commit)
//
#ifndef QUILL_STORE_RECORD_FILE_H_
#define QUILL_STORE_RECORD_FILE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/bytes.h"
#include "platform/file_system.h"
#include "store/observer_list.h"
#include "store/rollback_journal.h"

namespace quill {
namespace store {

// What opening a file found and did.
struct RecordFileReport {
  bool created = false;     // the file was missing or empty and got a new header
  bool reset = false;       // an invalid file was kept as ".bad" and started over
  bool rolled_back = false; // a hot journal put the last commit back
  bool repaired = false;    // chain, count, last id or free list were written back
  uint32_t slots = 0;       // whole slots in the file
  uint32_t records = 0;     // records on the used chain
  uint32_t free_slots = 0;  // slots on the (possibly rebuilt) free list
  std::vector<std::string> problems;  // each inconsistency, with its slot number
};

class RecordFile {
 public:
  static constexpr uint32_t kHeaderSize = 64;
  static constexpr uint32_t kSlotHeaderSize = 8;
  // Held changes past this many bytes are written early (still uncommitted).
  static constexpr size_t kSpillBytes = 16 << 20;
  // Called once per record while the file opens, in chain order (newest
  // first), with the first load_prefix bytes of its payload.
  using LoadObserver = ObserverList<uint32_t, ByteView>::Callback;

  // fs must outlive this object. slot_size is S (at least 9). The file grows
  // by 8 slots for S = 8192, 100 for S = 520, else by about 64 KB.
  RecordFile(FileSystem* fs, uint32_t slot_size, bool read_only = false);
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Only while the file is not open; false otherwise.
  bool SetPath(const std::string& path);
  const std::string& path() const { return path_; }
  // How many payload bytes load observers get (at most the payload size).
  void SetLoadPrefix(uint32_t bytes);
  void AddLoadObserver(const std::shared_ptr<LoadObserver>& observer);

  // Opens the file when it is not open yet; true when it is open.
  bool Open();
  bool is_open() const { return file_ != nullptr; }
  const RecordFileReport& report() const { return report_; }
  // How often a failed write closed the file, dropping what was not
  // committed.
  uint64_t failures() const { return failures_; }

  uint32_t payload_size() const { return slot_size_ - kSlotHeaderSize; }
  // Creation time in the header (FILETIME).
  uint64_t creation_time() const;

  // Each change below commits before it returns unless a group is open;
  // false (0) when it, or its commit, failed.
  // Inserts a record; a shorter payload is padded with zeros, a longer one
  // refused. Returns the new record id, 0 on failure.
  uint32_t Insert(ByteView payload);
  bool Delete(uint32_t id);
  // Reads or writes payload bytes [offset, offset + length), the length cut
  // at the payload's end; buf has the layout of the whole payload (the bytes
  // sit at buf + offset). *done (if given) gets the bytes moved. Reads see
  // held changes.
  bool Read(uint32_t id, uint32_t offset, uint32_t length, uint8_t* buf, uint32_t* done = nullptr);
  bool Write(uint32_t id, uint32_t offset, uint32_t length, const uint8_t* buf,
             uint32_t* done = nullptr);
  bool ReadAll(uint32_t id, Bytes* payload);
  bool WriteAll(uint32_t id, ByteView payload);

  // Groups nest; changes inside wait for Commit. EndGroup does no I/O.
  void BeginGroup() { ++group_depth_; }
  void EndGroup() {
    if (group_depth_ > 0) --group_depth_;
  }
  bool in_group() const { return group_depth_ > 0; }
  // Makes every change so far durable; true at once when there is none.
  bool Commit();

  bool Contains(uint32_t id) const { return index_.count(id) != 0; }
  size_t record_count() const { return index_.size(); }
  uint32_t last_id() const { return last_id_; }
  // Ids up to id are taken (something outside the file holds them); the
  // next header write records it.
  void RaiseLastId(uint32_t id);
  // The record count the header states (while opening: before the walk).
  uint32_t counted_records() const;
  // The slot of a record (0 when absent), for reports of a checker.
  uint32_t SlotOf(uint32_t id) const {
    auto it = index_.find(id);
    return it == index_.end() ? 0 : it->second.slot;
  }
  // Record ids in chain order (newest first).
  std::vector<uint32_t> Ids() const;

 private:
  // One record of the used chain. Neighbours are record ids (0 = none).
  struct Descriptor {
    uint32_t slot;  // where the record lives
    uint32_t prev;  // the newer neighbour's id
    uint32_t next;  // the older neighbour's id
  };

  bool OpenFile();
  bool RollBack();
  bool StartOver(bool keep_bad);
  bool LoadChain(bool* changed);
  // keep_unseen: leave slots on neither list alone (the chain was cut).
  bool LoadFreeList(std::vector<uint8_t>* state, bool keep_unseen, bool* changed);
  void WriteHeader();
  void WriteNext(uint32_t slot, uint32_t next);
  void Grow();
  uint64_t SlotOffset(uint32_t slot) const;
  void Problem(std::string text);

  // The file's bytes [offset, offset + n) with the held changes over them;
  // false past the end or on a read error.
  bool Get(uint64_t offset, uint8_t* buf, size_t n);
  // Holds a change of bytes [offset, offset + n).
  void Put(uint64_t offset, const uint8_t* data, size_t n);
  // After a change: commit outside a group, spill past kSpillBytes inside.
  bool Settle();
  // Journals what the held changes overwrite, then writes them.
  bool WriteBack();
  // Closes the file after a failed write; the next use reopens. False.
  bool Fail();
  void Close();

  FileSystem* const fs_;
  const uint32_t slot_size_;
  const uint32_t grow_slots_;  // K
  const bool read_only_;
  std::string path_;
  std::unique_ptr<File> file_;  // null until open
  RollbackJournal journal_;
  uint8_t header_[kHeaderSize] = {};  // as last read or written
  RecordFileReport report_;
  uint32_t load_prefix_ = 0;
  ObserverList<uint32_t, ByteView> load_observers_;
  uint64_t failures_ = 0;
  uint32_t issued_last_id_ = 0;  // the largest id handed out by this object
  int group_depth_ = 0;

  // Mirrors of the header and the lists (valid while open).
  uint32_t last_id_ = 0;
  uint32_t first_id_ = 0;                 // newest record, 0 when empty
  uint32_t slots_ = 0;                    // whole slots in the file
  std::vector<uint32_t> free_;            // free list, head at the back
  std::vector<bool> zeroed_;              // by slot: all zeros since this run grew the file
  std::unordered_map<uint32_t, Descriptor> index_;  // by record id

  // The transaction (valid while open).
  std::map<uint64_t, Bytes> held_;        // changes not written, by offset, disjoint
  size_t held_bytes_ = 0;                 // their total size
  uint64_t size_ = 0;                     // the file's size with the held changes
  uint64_t disk_size_ = 0;                // the file's size on disk
  uint64_t committed_size_ = 0;           // its size at the last commit
  std::map<uint64_t, uint64_t> journaled_;  // [start, end) saved in the journal, disjoint
  bool written_ = false;                  // changes were written since the last commit
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_RECORD_FILE_H_
