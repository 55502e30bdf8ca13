// The rollback journal of one record file: a sidecar file (the record
// file's path + ".journal") that holds, while a change of the record file
// is under way, the bytes that change overwrites. A power cut in the middle
// leaves the journal "hot"; opening puts those bytes back and cuts the file
// to its committed size, so the record file is again exactly as its last
// commit left it.
//
// Format (integers little-endian):
//   header, 32 bytes:
//     0  4  magic "QJNL"
//     4  4  format version, 1
//     8  4  salt: random, new for every change
//    12  8  size of the record file at its last commit
//    20  4  slot size of the record file
//    24  4  zero
//    28  4  CRC-32 of bytes 0..27
//   then records, back to back:
//     0  8  file offset of the bytes
//     8  4  length of the range
//    12  4  bytes stored (at most the length; the rest of the range is zero)
//    16  n  the stored bytes
//  16+n  4  CRC-32 of the salt, bytes 0..15 and the stored bytes
// A journal is hot when its header is valid. Its records end at the first
// one that is cut short, fails its CRC, or names a range past the committed
// size: an append torn by a power cut, which the protocol below never lets
// the record file's own writes follow.
//
// Protocol (kept by RecordFile):
//   Begin (header) and Append (records), then Sync, before the record file
//   is written over any byte the records cover; Sync again after more
//   records, before the writes they protect. After the record file is
//   synced, End makes the journal cold: the header is zeroed and synced.
//   The file keeps its size, so later changes rewrite blocks it already has
//   (the cheapest sync), unless it grew past kKeepBytes; then it is cut.
//
// Thread safety: none; the record file's thread only.
#ifndef QUILL_STORE_ROLLBACK_JOURNAL_H_
#define QUILL_STORE_ROLLBACK_JOURNAL_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/file_system.h"

namespace quill {
namespace store {

class RollbackJournal {
 public:
  static constexpr uint32_t kHeaderSize = 32;
  static constexpr uint64_t kKeepBytes = 1 << 20;

  // One saved range: bytes, then zeros up to length.
  struct Record {
    uint64_t offset;  // in the record file
    uint32_t length;  // of the range
    Bytes bytes;      // its first bytes; the rest are zero
  };

  // fs must outlive this object.
  explicit RollbackJournal(FileSystem* fs) : fs_(fs) {}

  // Opens the journal at path, creating it (and making its directory entry
  // durable) unless read_only; a read-only open of a missing journal
  // succeeds with a cold journal.
  bool Open(const std::string& path, bool read_only);
  void Close();

  // The committed size and the records of a hot journal; false when cold
  // (or missing), and false with *error set when it could not be read.
  bool ReadHot(uint32_t slot_size, uint64_t* committed_size, std::vector<Record>* records,
               bool* error);

  // Starts a change of a record file of committed_size bytes.
  bool Begin(uint64_t committed_size, uint32_t slot_size);
  // Saves bytes about to be overwritten at offset (trailing zeros are not
  // stored). Records wait in memory for Sync, which writes them at once.
  bool Append(uint64_t offset, ByteView old_bytes);
  // Makes every record so far durable; nothing to do when none was added.
  bool Sync();
  // Makes the journal cold (durably).
  bool End();
  // Between Begin and End.
  bool active() const { return active_; }

 private:
  FileSystem* const fs_;
  std::unique_ptr<File> file_;  // null when closed or absent
  uint32_t salt_ = 0;           // of the change under way
  bool active_ = false;         // Begin ran, End not yet
  Bytes buffer_;                // header and records not written yet
  uint64_t buffer_at_ = 0;      // where buffer_ goes in the file
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_ROLLBACK_JOURNAL_H_
