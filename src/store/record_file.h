// The slotted record file behind "mails.idx", "folders.idx" and
// "address.txt": a 64-byte "NX" header, then numbered fixed-size slots of S
// bytes (8-byte slot header: record id, next slot; then S - 8 payload
// bytes). Used slots form a chain from the newest record to the oldest;
// free slots form a free list. Record ids are last id + 1 and never reused.
//
// Crash safety. Writes are ordered so that a crash (or a failed write)
// between any two of them loses at most the operation in flight and leaves
// at most one slot on neither list:
// - Insert: the header first moves the free head past the taken slot, then
//   the slot is written, then the header links it as the first used slot.
// - Delete: the record is first unlinked from the used chain (header or
//   previous slot), then its slot joins the free list.
// A free list can therefore never reach a used slot. Opening reclaims
// slots that are on neither list.
//
// Opening (lazy; every operation opens first and fails when it cannot):
// - an I/O error fails the open and leaves the file as it is; the next
//   operation tries again;
// - a header that was read and is invalid (magic, slot size, a count larger
//   than the file has room for) or a file shorter than 64 bytes that is not
//   empty is kept as path + ".bad" and the file starts over empty;
// - the used chain walk stops at an out-of-range slot, a slot seen before
//   or a duplicate id, and the chain is cut there; the count is set to what
//   the walk found; the last id is raised to the largest id seen; a free
//   list that is out of range, cyclic or reaches a used slot is rebuilt;
//   slots on neither list are reclaimed unless the chain was cut (they may
//   hold the records past the cut).
// Read-only files report the same findings and repair nothing.
//
// Durability: writes are durable after Flush (or a repair at open).
//
// Thread safety: none; one thread uses a file object at a time. Load
// observers are called on that thread.
#ifndef QUILL_STORE_RECORD_FILE_H_
#define QUILL_STORE_RECORD_FILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/bytes.h"
#include "platform/file_system.h"
#include "store/observer_list.h"

namespace quill {
namespace store {

// What opening a file found and did.
struct RecordFileReport {
  bool created = false;     // the file was missing or empty and got a new header
  bool reset = false;       // an invalid file was kept as ".bad" and started over
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

  uint32_t payload_size() const { return slot_size_ - kSlotHeaderSize; }
  // Creation time in the header (FILETIME).
  uint64_t creation_time() const;

  // Inserts a record; a shorter payload is padded with zeros, a longer one
  // refused. Returns the new record id, 0 on failure.
  uint32_t Insert(ByteView payload);
  bool Delete(uint32_t id);
  // Reads or writes payload bytes [offset, offset + length), the length cut
  // at the payload's end; buf has the layout of the whole payload (the bytes
  // sit at buf + offset). *done (if given) gets the bytes moved.
  bool Read(uint32_t id, uint32_t offset, uint32_t length, uint8_t* buf, uint32_t* done = nullptr);
  bool Write(uint32_t id, uint32_t offset, uint32_t length, const uint8_t* buf,
             uint32_t* done = nullptr);
  bool ReadAll(uint32_t id, Bytes* payload);
  bool WriteAll(uint32_t id, ByteView payload);
  // Makes every earlier write durable.
  bool Flush();

  bool Contains(uint32_t id) const { return index_.count(id) != 0; }
  size_t record_count() const { return index_.size(); }
  uint32_t last_id() const { return last_id_; }
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
  bool StartOver(bool keep_bad);
  bool LoadChain(bool* changed);
  // keep_unseen: leave slots on neither list alone (the chain was cut).
  bool LoadFreeList(std::vector<uint8_t>* state, bool keep_unseen, bool* changed);
  bool WriteHeader();
  bool WriteSlotHeader(uint32_t slot, uint32_t id, uint32_t next);
  bool WriteNext(uint32_t slot, uint32_t next);
  bool Grow();
  uint64_t SlotOffset(uint32_t slot) const;
  void Problem(std::string text);

  FileSystem* const fs_;
  const uint32_t slot_size_;
  const uint32_t grow_slots_;  // K
  const bool read_only_;
  std::string path_;
  std::unique_ptr<File> file_;  // null until open
  uint8_t header_[kHeaderSize] = {};  // as last read or written
  RecordFileReport report_;
  uint32_t load_prefix_ = 0;
  ObserverList<uint32_t, ByteView> load_observers_;

  // Mirrors of the header and the lists (valid while open).
  uint32_t last_id_ = 0;
  uint32_t first_id_ = 0;                 // newest record, 0 when empty
  uint32_t slots_ = 0;                    // whole slots in the file
  std::vector<uint32_t> free_;            // free list, head at the back
  std::vector<bool> zeroed_;              // by slot: all zeros since this run grew the file
  bool ragged_end_ = false;               // the file ends in part of a slot
  std::unordered_map<uint32_t, Descriptor> index_;  // by record id
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_RECORD_FILE_H_
