#include "store/mail_store.h"

#include <algorithm>

#include "store/le_bytes.h"

namespace quill {
namespace store {
namespace {

bool IsServiceMail(uint32_t server_id, uint16_t kind) {
  return server_id != 0 && server_id != kLocalServerId && kind == 0;
}

const std::vector<ViewEntry> kNoView;

}  // namespace

MailStore::MailStore(FileSystem* fs) : records_(fs, kSlotSize), files_(fs) {
  loader_ = std::make_shared<RecordFile::LoadObserver>(
      [this](uint32_t id, ByteView prefix) { OnLoad(id, prefix); });
  records_.SetLoadPrefix(MailRecord::kSummaryBytes);
  records_.AddLoadObserver(loader_);
}

bool MailStore::Open(const std::string& account_dir) {
  files_.SetBase(account_dir);
  if (!records_.SetPath(account_dir + "mails.idx")) return false;
  ClearIndexes();
  batch_depth_ = 0;
  std::vector<MailChange> none;
  mail_observers_.Notify(MailChangeKind::kReset, none);
  return EnsureOpen();
}

void MailStore::ClearIndexes() {
  summaries_.clear();
  by_server_id_.clear();
  total_.clear();
  unread_.clear();
  views_.clear();
}

bool MailStore::EnsureOpen() {
  if (records_.is_open()) return true;
  if (records_.path().empty()) return false;
  ClearIndexes();
  loading_ = true;
  const bool ok = records_.Open();
  loading_ = false;
  if (!ok) {
    ClearIndexes();
    loaded_.clear();
    return false;
  }
  // One sort by date, then every view is filled in order: O(n log n).
  auto by_date = [](const auto& a, const auto& b) {
    return ViewEntry{a.second.date, a.first} < ViewEntry{b.second.date, b.first};
  };
  // The chain runs from the newest record, so dates often come in reverse.
  if (std::is_sorted(loaded_.rbegin(), loaded_.rend(), by_date)) {
    std::reverse(loaded_.begin(), loaded_.end());
  } else if (!std::is_sorted(loaded_.begin(), loaded_.end(), by_date)) {
    std::sort(loaded_.begin(), loaded_.end(), by_date);
  }
  loading_ = true;
  for (const auto& [id, summary] : loaded_) Apply(id, nullptr, &summary);
  loading_ = false;
  loaded_.clear();
  loaded_.shrink_to_fit();
  for (auto& [folder, view] : views_) view.Settle();
  unread_changed_ = total_changed_ = false;  // observers were told kReset
  SettleMailDirs();
  return true;
}

void MailStore::SettleMailDirs() {
  std::vector<uint32_t> ids;
  files_.ListMailDirs(&ids);
  uint32_t top = 0;
  for (uint32_t id : ids) {
    top = std::max(top, id);
    if (id > records_.last_id()) files_.DeleteMailFiles(id);
  }
  records_.RaiseLastId(top);
  // A local mail whose save was cut short gets the files of its record.
  for (const auto& [id, summary] : summaries_) {
    if (summary.kind == 0) continue;
    uint8_t stamp[MailRecord::kSaveTimeAt + 8];
    if (records_.Read(id, MailRecord::kSaveTimeAt, 8, stamp)) {
      files_.RecoverStagedFiles(id, GetLe64(stamp + MailRecord::kSaveTimeAt));
    }
  }
}

void MailStore::Reload() {
  ClearIndexes();
  added_.clear();
  removed_.clear();
  changed_.clear();
  doomed_.clear();  // their records are back
  EnsureOpen();
  std::vector<MailChange> none;
  mail_observers_.Notify(MailChangeKind::kReset, none);
  unread_observers_.Notify();
  total_observers_.Notify();
}

bool MailStore::Settled(bool ok) {
  if (!ok) {
    if (!records_.is_open()) Reload();
    return false;
  }
  if (batch_depth_ == 0) DeleteDoomedFiles();
  return true;
}

void MailStore::DeleteDoomedFiles() {
  for (uint32_t id : doomed_) files_.DeleteMailFiles(id);
  doomed_.clear();
}

bool MailStore::Flush() {
  if (!Settled(records_.Commit())) return false;
  DeleteDoomedFiles();
  return true;
}

MailStore::Summary MailStore::SummaryOf(const uint8_t* p) {
  return Summary{MailRecord::ServerIdOf(p), MailRecord::FolderOf(p), MailRecord::DateOf(p),
                 MailRecord::FlagsOf(p), MailRecord::LocalKindOf(p)};
}

void MailStore::OnLoad(uint32_t mail_id, ByteView prefix) {
  if (prefix.size < MailRecord::kSummaryBytes) return;
  const Summary s = SummaryOf(prefix.data);
  if (summaries_.empty()) {
    summaries_.reserve(records_.counted_records());
    by_server_id_.reserve(records_.counted_records());
    loaded_.reserve(records_.counted_records());
  }
  summaries_[mail_id] = s;
  loaded_.emplace_back(mail_id, s);
}

void MailStore::Count(const Summary& s, bool add) {
  auto bump = [add](std::map<uint32_t, uint32_t>* counts, uint32_t folder) {
    uint32_t& n = (*counts)[folder];
    if (add) {
      ++n;
    } else if (n > 0) {
      --n;
    }
  };
  bump(&total_, s.folder);
  if (s.folder != kAllFolders) bump(&total_, kAllFolders);
  if (s.flags & kUnreadFlag) {
    bump(&unread_, s.folder);
    if (s.folder != kAllFolders) bump(&unread_, kAllFolders);
  }
}

void MailStore::ViewAdd(uint32_t folder, ViewEntry e) {
  views_[folder].Add(e, loading_ || batch_depth_ > 0);
}

void MailStore::ViewRemove(uint32_t folder, ViewEntry e) {
  auto found = views_.find(folder);
  if (found != views_.end()) found->second.Remove(e, deferring_removals_);
}

void MailStore::Apply(uint32_t mail_id, const Summary* before, const Summary* after) {
  const bool was_unread = before && (before->flags & kUnreadFlag);
  const bool is_unread = after && (after->flags & kUnreadFlag);
  const bool moved = !before || !after || before->folder != after->folder;
  if (moved) total_changed_ = true;
  if (was_unread != is_unread || (moved && (was_unread || is_unread))) unread_changed_ = true;
  if (before) {
    const ViewEntry e{before->date, mail_id};
    ViewRemove(before->folder, e);
    if (before->folder != kAllFolders) ViewRemove(kAllFolders, e);
    if ((before->flags & kUnreadFlag) && before->folder != kUnreadView) ViewRemove(kUnreadView, e);
    Count(*before, false);
    auto it = by_server_id_.find(before->server_id);
    if (it != by_server_id_.end() && it->second == mail_id) by_server_id_.erase(it);
  }
  if (after) {
    const ViewEntry e{after->date, mail_id};
    ViewAdd(after->folder, e);
    if (after->folder != kAllFolders) ViewAdd(kAllFolders, e);
    if ((after->flags & kUnreadFlag) && after->folder != kUnreadView) ViewAdd(kUnreadView, e);
    Count(*after, true);
    if (IsServiceMail(after->server_id, after->kind)) by_server_id_[after->server_id] = mail_id;
  }
}

bool MailStore::Rewrite(uint32_t mail_id, const Summary& after) {
  Summary before = summaries_.at(mail_id);
  Apply(mail_id, &before, &after);
  summaries_[mail_id] = after;
  Notify(MailChangeKind::kChanged, MailChange{mail_id, before.folder, after.folder, before.flags, after.flags});
  return true;
}

uint32_t MailStore::AddOrUpdateMail(MailRecord* mail) {
  if (!EnsureOpen()) return 0;
  const uint32_t s = mail->server_id();
  if (s != kLocalServerId) {
    const uint32_t existing = FindByServerID(s);
    if (existing != 0) return WriteMail(existing, mail) ? existing : 0;
  }
  const Bytes& raw = mail->Encode();
  const uint32_t id = records_.Insert(raw);
  if (!Settled(id != 0)) return 0;
  const Summary after = SummaryOf(raw.data());
  summaries_[id] = after;
  Apply(id, nullptr, &after);
  Notify(MailChangeKind::kAdded, MailChange{id, 0, after.folder, 0, after.flags});
  return id;
}

bool MailStore::WriteMail(uint32_t mail_id, MailRecord* mail) {
  if (!EnsureOpen() || !Contains(mail_id)) return false;
  const Bytes& raw = mail->Encode();
  if (!Settled(records_.WriteAll(mail_id, raw))) return false;
  return Rewrite(mail_id, SummaryOf(raw.data()));
}

bool MailStore::UpdateMailFields(uint32_t mail_id, const uint8_t* buf, uint32_t offset, uint32_t length) {
  if (!EnsureOpen() || !Contains(mail_id) || offset > MailRecord::kSize) return false;
  length = std::min(length, MailRecord::kSize - offset);
  if (!Settled(records_.Write(mail_id, offset, length, buf))) return false;
  // The summary fields as they are now: the old ones with the written bytes over them.
  const Summary& old = summaries_.at(mail_id);
  uint8_t prefix[MailRecord::kSummaryBytes] = {};
  PutLe32(prefix + MailRecord::kServerIdAt, old.server_id);
  PutLe32(prefix + MailRecord::kFolderAt, old.folder);
  PutLe64(prefix + MailRecord::kDateAt, old.date);
  PutLe32(prefix + MailRecord::kFlagsAt, old.flags);
  PutLe16(prefix + MailRecord::kStateAt, static_cast<uint16_t>(old.kind << 3));
  for (uint32_t i = offset; i < offset + length && i < MailRecord::kSummaryBytes; ++i) prefix[i] = buf[i];
  return Rewrite(mail_id, SummaryOf(prefix));
}

bool MailStore::SetMailFlags(uint32_t mail_id, uint32_t flags) {
  uint8_t buf[MailRecord::kFlagsAt + 4];
  PutLe32(buf + MailRecord::kFlagsAt, flags);
  return UpdateMailFields(mail_id, buf, MailRecord::kFlagsAt, 4);
}

bool MailStore::MoveMail(uint32_t mail_id, uint32_t folder) {
  uint8_t buf[MailRecord::kFolderAt + 4];
  PutLe32(buf + MailRecord::kFolderAt, folder);
  return UpdateMailFields(mail_id, buf, MailRecord::kFolderAt, 4);
}

bool MailStore::DeleteMail(uint32_t mail_id) {
  if (!EnsureOpen() || !Contains(mail_id)) return false;
  if (!Settled(records_.Delete(mail_id))) return false;
  const Summary before = summaries_.at(mail_id);
  Apply(mail_id, &before, nullptr);
  summaries_.erase(mail_id);
  doomed_.push_back(mail_id);
  if (batch_depth_ == 0) DeleteDoomedFiles();  // the deletion is committed
  Notify(MailChangeKind::kRemoved, MailChange{mail_id, 0, before.folder, 0, before.flags});
  return true;
}

bool MailStore::DeleteMails(const std::vector<uint32_t>& mail_ids, std::vector<uint32_t>* server_ids) {
  if (!EnsureOpen()) return false;
  bool all = true;
  std::vector<MailChange> removed;
  std::vector<uint32_t> ids;
  deferring_removals_ = true;
  records_.BeginGroup();
  for (uint32_t id : mail_ids) {
    if (!Contains(id) || !records_.Delete(id)) {
      all = false;
      if (!records_.is_open()) break;
      continue;
    }
    const Summary before = summaries_.at(id);
    Apply(id, &before, nullptr);
    summaries_.erase(id);
    doomed_.push_back(id);
    if (IsServiceMail(before.server_id, before.kind)) ids.push_back(before.server_id);
    removed.push_back(MailChange{id, 0, before.folder, 0, before.flags});
  }
  records_.EndGroup();
  deferring_removals_ = false;
  for (auto& [folder, view] : views_) view.Settle();
  if (!records_.is_open()) {
    Reload();
    return false;
  }
  // One commit for all (inside a batch, the batch's).
  if (batch_depth_ == 0 && !Flush()) return false;
  if (server_ids) server_ids->insert(server_ids->end(), ids.begin(), ids.end());
  if (removed.empty()) return all;
  if (batch_depth_ > 0) {
    removed_.insert(removed_.end(), removed.begin(), removed.end());
  } else {
    removed_ = std::move(removed);
    NotifyList(MailChangeKind::kRemoved, &removed_);
    NotifyCounts();
  }
  return all;
}

uint32_t MailStore::FindByServerID(uint32_t server_id) const {
  auto it = by_server_id_.find(server_id);
  return it == by_server_id_.end() ? 0 : it->second;
}

uint32_t MailStore::GetServerID(uint32_t mail_id) const {
  auto it = summaries_.find(mail_id);
  return it == summaries_.end() ? kLocalServerId : it->second.server_id;
}

bool MailStore::ReadMail(uint32_t mail_id, MailRecord* mail) {
  if (!EnsureOpen()) return false;
  Bytes raw;
  return records_.ReadAll(mail_id, &raw) && mail->Decode(raw);
}

bool MailStore::ReadMailField(uint32_t mail_id, uint32_t offset, uint32_t length, uint8_t* buf) {
  return EnsureOpen() && records_.Read(mail_id, offset, length, buf);
}

const MailStore::Summary* MailStore::Find(uint32_t mail_id) {
  if (!EnsureOpen()) return nullptr;
  auto it = summaries_.find(mail_id);
  return it == summaries_.end() ? nullptr : &it->second;
}

bool MailStore::ReadFlags(uint32_t mail_id, uint32_t* flags) {
  const Summary* s = Find(mail_id);
  if (s) *flags = s->flags;
  return s != nullptr;
}

bool MailStore::ReadFolder(uint32_t mail_id, uint32_t* folder) {
  const Summary* s = Find(mail_id);
  if (s) *folder = s->folder;
  return s != nullptr;
}

bool MailStore::ReadLocalKind(uint32_t mail_id, uint16_t* kind) {
  const Summary* s = Find(mail_id);
  if (s) *kind = s->kind;
  return s != nullptr;
}

uint32_t MailStore::TotalCount(uint32_t folder) const {
  auto it = total_.find(folder);
  return it == total_.end() ? 0 : it->second;
}

uint32_t MailStore::UnreadCount(uint32_t folder) const {
  auto it = unread_.find(folder);
  return it == unread_.end() ? 0 : it->second;
}

const std::vector<ViewEntry>& MailStore::View(uint32_t folder) const {
  auto it = views_.find(folder);
  return it == views_.end() ? kNoView : it->second.entries();
}

void MailStore::BeginBatch() {
  records_.BeginGroup();
  if (batch_depth_++ == 0) {
    added_.clear();
    removed_.clear();
    changed_.clear();
  }
}

bool MailStore::EndBatch(bool flush) {
  if (batch_depth_ == 0) return true;
  records_.EndGroup();
  if (--batch_depth_ > 0) return true;
  for (auto& [folder, view] : views_) view.Settle();
  if (flush && !Flush()) return false;  // rolled back; observers were told kReset
  NotifyList(MailChangeKind::kAdded, &added_);
  NotifyList(MailChangeKind::kRemoved, &removed_);
  NotifyList(MailChangeKind::kChanged, &changed_);
  NotifyCounts();
  return true;
}

void MailStore::Notify(MailChangeKind kind, const MailChange& change) {
  std::vector<MailChange>* list = kind == MailChangeKind::kAdded     ? &added_
                                  : kind == MailChangeKind::kRemoved ? &removed_
                                                                     : &changed_;
  if (batch_depth_ > 0) {
    list->push_back(change);
    return;
  }
  list->assign(1, change);
  NotifyList(kind, list);
  NotifyCounts();
}

void MailStore::NotifyList(MailChangeKind kind, std::vector<MailChange>* list) {
  if (list->empty()) return;
  std::vector<MailChange> told;
  told.swap(*list);
  mail_observers_.Notify(kind, told);
}

void MailStore::NotifyCounts() {
  if (unread_changed_) {
    unread_changed_ = false;
    unread_observers_.Notify();
  }
  if (total_changed_) {
    total_changed_ = false;
    total_observers_.Notify();
  }
}

}  // namespace store
}  // namespace quill
