// The mail index of one account: "mails.idx" and what is built from it at
// open and kept current by every change: the ServerID index, total and
// unread counters per folder (key 0 sums all folders), and folder views in
// date order (0 = every mail, kUnreadView = every unread mail).
//
// Every index is derived from one summary per mail (ServerID, folder, date,
// flags, local kind), so after any sequence of operations the indexes equal
// a recount of the records. The ServerID index holds (ServerID, MailID) for
// mails of the service: ServerID neither 0 nor 0xFFFFFFFF and local kind 0.
//
// Order of work in every change: the record operation first; only when it
// succeeded the counters, views and index, then the per-mail files, then
// the notification.
//
// Durability: "mails.idx" changes are transactions (see record_file.h).
// Outside a batch every change is committed before it returns; inside
// BeginBatch/EndBatch changes wait for EndBatch(true) or Flush. The files
// of a deleted mail go only once its deletion is committed, so a crash
// never leaves a record without its files. When a write fails the file
// rolls back to its last commit: every index is rebuilt from it and
// observers are told kReset (failures() counts these).
//
// MailIDs are never handed out twice: opening raises the last id past
// every per-mail directory, and deletes the files of directories above the
// committed last id (left by changes that were never committed).
//
// Notifications: outside a batch each change is told at once; inside
// BeginBatch/EndBatch changes collect and EndBatch tells added, removed
// and changed lists, then the counter notices.
//
// Thread safety: none; the UI thread owns the store. Observers may register
// from any thread.
#ifndef QUILL_STORE_MAIL_STORE_H_
#define QUILL_STORE_MAIL_STORE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "store/folder_view.h"
#include "store/mail_file_store.h"
#include "store/mail_record.h"
#include "store/observer_list.h"
#include "store/record_file.h"

namespace quill {
namespace store {

// One change as observers see it; the previous values are 0 for added and
// removed mails.
struct MailChange {
  uint32_t mail_id;      // the mail
  uint32_t prev_folder;  // FolderID before the change
  uint32_t folder;       // FolderID after (of the mail removed, for removals)
  uint32_t prev_flags;   // flags before
  uint32_t flags;        // flags after (of the mail removed, for removals)
};

enum class MailChangeKind { kAdded = 1, kRemoved = 2, kChanged = 3, kReset = 4 };

class MailStore {
 public:
  static constexpr uint32_t kSlotSize = 8192;
  using MailChangedObserver = ObserverList<MailChangeKind, const std::vector<MailChange>&>::Callback;
  using CountsObserver = ObserverList<>::Callback;

  // fs must outlive this object.
  explicit MailStore(FileSystem* fs);

  // Sets "mails.idx" and the per-mail base in account_dir (ending in '/'),
  // tells observers kReset and loads. False when the file could not be
  // opened (every operation then retries).
  bool Open(const std::string& account_dir);
  const RecordFileReport& report() const { return records_.report(); }
  MailFileStore* files() { return &files_; }

  // Rewrites the mail with the same ServerID of the service, else adds a new
  // mail. Returns its MailID, 0 on failure.
  uint32_t AddOrUpdateMail(MailRecord* mail);
  // Rewrites the whole record.
  bool WriteMail(uint32_t mail_id, MailRecord* mail);
  // Writes record bytes [offset, offset + length) from buf, which has the
  // layout of a whole record (at least offset + length bytes).
  bool UpdateMailFields(uint32_t mail_id, const uint8_t* buf, uint32_t offset, uint32_t length);
  bool SetMailFlags(uint32_t mail_id, uint32_t flags);
  bool MoveMail(uint32_t mail_id, uint32_t folder);
  // Deletes the record, then its per-mail files.
  bool DeleteMail(uint32_t mail_id);
  // Deletes every mail it can; *server_ids (if given) gets the ServerIDs of
  // the deleted mails of the service. True when all were deleted.
  bool DeleteMails(const std::vector<uint32_t>& mail_ids, std::vector<uint32_t>* server_ids);

  // Where a fetched attachment of the mail with this ServerID is kept; ""
  // for an unknown mail or an unsafe name.
  std::string AttachmentPath(uint32_t server_id, const std::u16string& name) const {
    return files_.AttachmentPath(FindByServerID(server_id), server_id, name);
  }

  uint32_t FindByServerID(uint32_t server_id) const;
  // 0xFFFFFFFF when the mail is unknown.
  uint32_t GetServerID(uint32_t mail_id) const;
  bool ReadMail(uint32_t mail_id, MailRecord* mail);
  // Record bytes [offset, offset + length) into buf at offset.
  bool ReadMailField(uint32_t mail_id, uint32_t offset, uint32_t length, uint8_t* buf);
  bool ReadFlags(uint32_t mail_id, uint32_t* flags);
  bool ReadFolder(uint32_t mail_id, uint32_t* folder);
  bool ReadLocalKind(uint32_t mail_id, uint16_t* kind);
  bool Contains(uint32_t mail_id) const { return summaries_.count(mail_id) != 0; }
  size_t mail_count() const { return summaries_.size(); }

  uint32_t TotalCount(uint32_t folder) const;
  uint32_t UnreadCount(uint32_t folder) const;
  // The view in ascending (date, MailID) order; empty for unknown folders.
  const std::vector<ViewEntry>& View(uint32_t folder) const;

  void BeginBatch();
  // flush: commit the batch's changes (false: a later Flush commits them).
  // False when the commit failed (the changes are then rolled back).
  bool EndBatch(bool flush = true);
  bool in_batch() const { return batch_depth_ > 0; }
  // Commits every change so far, then removes the files of the mails it
  // deleted. False when it failed (the changes are then rolled back).
  bool Flush();
  // How often a failed write rolled "mails.idx" back to its last commit.
  uint64_t failures() const { return records_.failures(); }
  // The MailID the next new mail gets.
  uint32_t NextMailId() { return EnsureOpen() ? records_.last_id() + 1 : 0; }

  void AddMailChangedObserver(const std::shared_ptr<MailChangedObserver>& o) { mail_observers_.Add(o); }
  void AddUnreadCountsObserver(const std::shared_ptr<CountsObserver>& o) { unread_observers_.Add(o); }
  void AddTotalCountsObserver(const std::shared_ptr<CountsObserver>& o) { total_observers_.Add(o); }

 private:
  // The fields every index is built from.
  struct Summary {
    uint32_t server_id;  // 0xFFFFFFFF for local mails
    uint32_t folder;     // FolderID
    uint64_t date;       // FILETIME
    uint32_t flags;      // bit 0 unread
    uint16_t kind;       // local kind 0..3
  };

  bool EnsureOpen();
  // Raises the last MailID past every per-mail directory, deletes the
  // files of those above the committed last id and finishes (or undoes)
  // the saves of local mails a crash cut short.
  void SettleMailDirs();
  // After a record operation: a failure that closed the file rolls the
  // indexes back with it; a success outside a batch was committed.
  bool Settled(bool ok);
  // Rebuilds every index from the file after a roll-back; tells kReset.
  void Reload();
  void DeleteDoomedFiles();
  // The mail's summary; null when unknown or the file cannot be opened.
  const Summary* Find(uint32_t mail_id);
  void ClearIndexes();
  void OnLoad(uint32_t mail_id, ByteView prefix);
  static Summary SummaryOf(const uint8_t* prefix);
  // Moves the indexes from `before` to `after` (either may be null).
  void Apply(uint32_t mail_id, const Summary* before, const Summary* after);
  void Count(const Summary& s, bool add);
  void ViewAdd(uint32_t folder, ViewEntry e);
  void ViewRemove(uint32_t folder, ViewEntry e);
  bool Rewrite(uint32_t mail_id, const Summary& after);
  void Notify(MailChangeKind kind, const MailChange& change);
  void NotifyList(MailChangeKind kind, std::vector<MailChange>* list);
  void NotifyCounts();

  RecordFile records_;
  MailFileStore files_;
  std::shared_ptr<RecordFile::LoadObserver> loader_;  // feeds OnLoad
  bool loading_ = false;          // views take appends while the file loads
  std::vector<std::pair<uint32_t, Summary>> loaded_;  // records seen by the load walk
  bool deferring_removals_ = false;  // a bulk delete runs
  std::vector<uint32_t> doomed_;     // deleted mails whose files wait for the commit

  std::unordered_map<uint32_t, Summary> summaries_;        // by MailID
  std::unordered_map<uint32_t, uint32_t> by_server_id_;    // ServerID -> MailID
  std::map<uint32_t, uint32_t> total_;                     // FolderID -> mails
  std::map<uint32_t, uint32_t> unread_;                    // FolderID -> unread mails
  std::unordered_map<uint32_t, FolderView> views_;  // by FolderID

  int batch_depth_ = 0;
  bool unread_changed_ = false;  // an unread counter changed since the last notice
  bool total_changed_ = false;   // a total counter changed since the last notice
  std::vector<MailChange> added_, removed_, changed_;  // pending

  ObserverList<MailChangeKind, const std::vector<MailChange>&> mail_observers_;
  ObserverList<> unread_observers_;
  ObserverList<> total_observers_;
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_MAIL_STORE_H_
