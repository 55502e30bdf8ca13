// The account's folder list in "folders.idx" (520-byte slots), read at open
// in chain order, and the FolderIDs the user chose not to fetch.
//
// A folder with an empty name is kept in the list for the run but has no
// record until it gets a name.
//
// Durability (see record_file.h): outside a group every change is
// committed before it returns. A change whose write fails rolls the file
// back to its last commit and the list is read again from it.
//
// Thread safety: none; UI thread only.
#ifndef QUILL_STORE_FOLDER_STORE_H_
#define QUILL_STORE_FOLDER_STORE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "store/folder_record.h"
#include "store/record_file.h"

namespace quill {
namespace store {

class FolderStore {
 public:
  static constexpr uint32_t kSlotSize = 520;

  // fs must outlive this object.
  explicit FolderStore(FileSystem* fs) : records_(fs, kSlotSize) {}

  // Sets the path and reads every folder record. False when the file could
  // not be opened.
  bool Open(const std::string& path);
  const RecordFileReport& report() const { return records_.report(); }
  // Changes between BeginGroup and EndGroup wait for Flush.
  void BeginGroup() { records_.BeginGroup(); }
  void EndGroup() { records_.EndGroup(); }
  // Makes every change so far durable.
  bool Flush() { return Settled(records_.Commit()); }
  // How often a failed write rolled "folders.idx" back.
  uint64_t failures() const { return records_.failures(); }

  // Each change is false when it was refused or its record not stored.
  // Ignored (false) for FolderID 0 or a folder already listed.
  bool AddFolder(uint32_t folder_id, const std::u16string& name);
  bool DeleteFolder(uint32_t folder_id);
  // Bit 0 of mask: the name changes. The record is rewritten unless the
  // name is empty.
  bool UpdateFolder(uint32_t folder_id, uint32_t mask, const std::u16string& name);
  // Folders 0, 1, 3, 4 and the unread view cannot be excluded.
  bool SetFolderExcluded(uint32_t folder_id, bool excluded);
  static bool CanExclude(uint32_t folder_id);

  const std::vector<FolderRecord>& folders() const { return folders_; }
  const std::vector<uint32_t>& excluded() const { return excluded_; }
  const FolderRecord* Find(uint32_t folder_id) const;

 private:
  FolderRecord* FindMutable(uint32_t folder_id);
  bool Store(FolderRecord* folder);
  // Reads every record into the lists.
  bool Load();
  // After a record operation: a failure that closed the file reloads.
  bool Settled(bool ok);

  RecordFile records_;
  std::vector<FolderRecord> folders_;  // in chain order, then as added
  std::vector<uint32_t> excluded_;     // FolderIDs with the excluded flag
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_FOLDER_STORE_H_
