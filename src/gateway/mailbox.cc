#include "gateway/mailbox.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <set>
#include <string_view>

#include "platform/ascii.h"

namespace quill {
namespace gateway {
namespace {

// The folder id and name of a folder directory that has a fixed meaning.
bool WellKnownFolder(const std::string& dir, uint32_t* id, std::string* name) {
  static const struct {
    const char* dir;
    uint32_t id;
    const char* name;
  } kFolders[] = {{"", kInboxFolderId, "收件箱"},
                  {".Sent", kSentFolderId, "已发送"},
                  {".Drafts", kDraftsFolderId, "草稿箱"}};
  for (const auto& f : kFolders) {
    if (dir == f.dir) {
      *id = f.id;
      *name = f.name;
      return true;
    }
  }
  return false;
}

// "unique:2,FLAGS" -> unique and FLAGS; a name without ":2," has no flags.
void SplitInfo(const std::string& name, std::string* unique, std::string* flags) {
  const size_t colon = name.find(":2,");
  *unique = name.substr(0, colon);
  *flags = colon == std::string::npos ? std::string() : name.substr(colon + 3);
}

std::string FolderPrefix(const std::string& dir) { return dir.empty() ? "" : dir + "/"; }

int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// From 1980 on, and at most a day ahead of the clock.
bool SaneTime(int64_t t, int64_t now) { return t >= kEarliestSaneTime && t <= now + 86400; }

}  // namespace

// What one listing of the Maildir found.
struct Mailbox::Listing {
  std::vector<std::string> folder_dirs;  // "" first, then ".Name" in name order
  // unique -> (folder dir, unread, path), in folder then file-name order.
  struct Found {
    std::string dir;
    bool unread;
    std::string path;
  };
  std::vector<std::pair<std::string, Found>> mails;
};

Mailbox::Mailbox(FileSystem* fs, std::string maildir) : fs_(fs), maildir_(std::move(maildir)) {}

std::string Mailbox::ContactsPath() const {
  return maildir_.substr(0, maildir_.rfind('/') + 1) + "contacts.txt";
}

void Mailbox::RefreshContactsLocked() {
  std::map<std::string, std::string> wanted;  // folded address -> name
  std::map<std::string, std::string> spelled;  // folded address -> address as written
  Bytes data;
  if (fs_->ReadFile(ContactsPath(), &data)) {
    const std::string text = ByteView(data).ToString();
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      start = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t tab = line.find('\t');
      if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
      const std::string address = line.substr(tab + 1);
      if (address.find('@') == std::string::npos) continue;
      const std::string folded = AsciiLowered(address);
      wanted[folded] = line.substr(0, tab);
      spelled[folded] = address;
    }
  }
  std::map<std::string, uint32_t> held;  // folded address -> id
  for (const auto& [id, c] : contacts_) {
    held[AsciiLowered(c.address)] = id;
  }
  for (const auto& [folded, id] : held) {
    auto it = wanted.find(folded);
    if (it == wanted.end()) {
      contacts_.erase(id);
      AppendLocked(JournalEntry::kDelContact, id);
    } else if (contacts_[id].name != it->second) {
      contacts_[id].name = it->second;
      AppendLocked(JournalEntry::kUpdateContact, id);
    }
  }
  for (const auto& [folded, name] : wanted) {
    if (held.count(folded) != 0) continue;
    const uint32_t id = next_.contact_id++;
    contacts_[id] = MailboxContact{id, name, spelled[folded]};
    AppendLocked(JournalEntry::kAddContact, id);
  }
}

bool Mailbox::FindContact(uint32_t id, MailboxContact* out) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = contacts_.find(id);
  if (it == contacts_.end()) return false;
  *out = it->second;
  return true;
}

std::string Mailbox::DbPath() const {
  return maildir_.substr(0, maildir_.rfind('/') + 1) + "mailbox.db";
}

std::string Mailbox::IdsPath() const {
  return maildir_.substr(0, maildir_.rfind('/') + 1) + kMailboxIdsFileName;
}

bool Mailbox::ListLocked(Listing* out) const {
  std::vector<std::string> names;
  if (!fs_->ListPrefix(maildir_, "", &names)) return false;
  out->folder_dirs.push_back("");
  for (const std::string& n : names) {
    if (n.size() > 1 && n[0] == '.' && fs_->Exists(maildir_ + "/" + n + "/cur")) {
      out->folder_dirs.push_back(n);
    }
  }
  for (const std::string& dir : out->folder_dirs) {
    for (const char* sub : {"cur", "new"}) {
      const std::string rel = FolderPrefix(dir) + sub;
      std::vector<std::string> files;
      if (!fs_->ListPrefix(maildir_ + "/" + rel, "", &files)) {
        if (dir.empty()) return false;  // the inbox itself must be readable
        continue;
      }
      for (const std::string& f : files) {
        // Hidden files are not mail; TAB and line breaks cannot be kept in
        // the state file.
        if (f[0] == '.' || f.find_first_of("\t\n\r") != std::string::npos) continue;
        std::string unique, flags;
        SplitInfo(f, &unique, &flags);
        const bool unread = std::string_view(sub) == "new" || flags.find('S') == std::string::npos;
        out->mails.push_back({unique, {dir, unread, rel + "/" + f}});
      }
    }
  }
  return true;
}

void Mailbox::AppendLocked(JournalEntry::Kind kind, uint32_t id) {
  journal_.Append(kind, id);
  unsaved_.insert({JournalEntry::ObjectOf(kind), id});
}

bool Mailbox::DirTimesLocked(std::vector<int64_t>* out) const {
  out->clear();
  int64_t ns = 0;
  if (!fs_->ModifiedTimeNs(maildir_, &ns)) return false;
  out->push_back(ns);
  out->push_back(fs_->ModifiedTimeNs(ContactsPath(), &ns) ? ns : -1);
  for (const auto& [id, f] : folders_) {
    for (const char* sub : {"cur", "new"}) {
      if (!fs_->ModifiedTimeNs(maildir_ + "/" + FolderPrefix(f.dir) + sub, &ns)) return false;
      out->push_back(ns);
    }
  }
  return true;
}

bool Mailbox::Refresh() {
  std::lock_guard<std::mutex> lock(mu_);
  if (!loaded_) {
    if (!LoadStateLocked()) return false;
    loaded_ = true;
  }
  constexpr int64_t kSettledNs = 2000000000;
  const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  std::vector<int64_t> times;
  const bool have_times = DirTimesLocked(&times);
  if (unsaved_.empty() && have_times && times == dir_times_) return true;
  Listing listing;
  if (!ListLocked(&listing)) return false;
  dir_times_.clear();
  if (have_times && std::all_of(times.begin(), times.end(),
                                [now](int64_t t) { return t < now - kSettledNs; })) {
    dir_times_ = times;
  }
  // Folders: the inbox always exists; subfolders keep the id of their dir.
  std::map<std::string, uint32_t> folder_by_dir;
  for (const auto& [id, f] : folders_) folder_by_dir[f.dir] = id;
  std::set<uint32_t> live_folders;
  for (const std::string& dir : listing.folder_dirs) {
    auto it = folder_by_dir.find(dir);
    uint32_t id;
    if (it != folder_by_dir.end()) {
      id = it->second;
    } else {
      std::string name;
      if (!WellKnownFolder(dir, &id, &name)) {
        id = next_.folder_id++;
        name = dir.substr(1);
      }
      folders_[id] = MailboxFolder{id, name, dir};
      folder_by_dir[dir] = id;
      AppendLocked(JournalEntry::kAddFolder, id);
    }
    live_folders.insert(id);
  }

  // Mails: matched by unique name, wherever they moved.
  std::set<uint32_t> live_mails;
  for (const auto& [unique, found] : listing.mails) {
    const uint32_t folder = folder_by_dir[found.dir];
    auto known = by_unique_.find(unique);
    if (known == by_unique_.end()) {
      const uint32_t sid = next_.server_id++;
      mails_[sid] = MailboxMail{sid, folder, found.unread, unique, found.path};
      by_unique_[unique] = sid;
      AppendLocked(JournalEntry::kAddMail, sid);
      live_mails.insert(sid);
      continue;
    }
    if (!live_mails.insert(known->second).second) continue;  // the same name twice: keep the first
    MailboxMail& m = mails_[known->second];
    m.path = found.path;
    if (m.folder_id != folder || m.unread != found.unread) {
      m.folder_id = folder;
      m.unread = found.unread;
      AppendLocked(JournalEntry::kUpdateMail, m.server_id);
    }
  }
  for (auto it = mails_.begin(); it != mails_.end();) {
    if (live_mails.count(it->first) != 0) {
      ++it;
      continue;
    }
    AppendLocked(JournalEntry::kDelMail, it->first);
    by_unique_.erase(it->second.unique);
    heads_.erase(it->first);
    it = mails_.erase(it);
  }
  for (auto it = folders_.begin(); it != folders_.end();) {
    if (live_folders.count(it->first) != 0) {
      ++it;
      continue;
    }
    AppendLocked(JournalEntry::kDelFolder, it->first);
    it = folders_.erase(it);
  }
  RefreshContactsLocked();
  if (!SaveLocked()) {
    UnloadLocked();
    return false;
  }
  return true;
}

uint32_t Mailbox::ResumeAfter(int64_t key) const {
  std::lock_guard<std::mutex> lock(mu_);
  return key >= 0 && key <= journal_.newest() ? static_cast<uint32_t>(key) : 0;
}

std::vector<JournalEntry> Mailbox::EntriesAfter(uint32_t after, size_t max,
                                                uint32_t* through) const {
  std::lock_guard<std::mutex> lock(mu_);
  return journal_.After(after, max, through);
}

uint32_t Mailbox::newest_key() const {
  std::lock_guard<std::mutex> lock(mu_);
  return journal_.newest();
}

bool Mailbox::FindFolder(uint32_t id, MailboxFolder* out) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = folders_.find(id);
  if (it == folders_.end()) return false;
  *out = it->second;
  return true;
}

bool Mailbox::FindMail(uint32_t server_id, MailboxMail* out) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = mails_.find(server_id);
  if (it == mails_.end()) return false;
  *out = it->second;
  return true;
}

std::string Mailbox::MessageFile(uint32_t server_id) const {
  MailboxMail mail;
  return FindMail(server_id, &mail) ? maildir_ + "/" + mail.path : std::string();
}

bool Mailbox::FindUnique(const std::string& unique, uint32_t* server_id) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = by_unique_.find(unique);
  if (it == by_unique_.end()) return false;
  *server_id = it->second;
  return true;
}

bool Mailbox::ReadMail(uint32_t server_id, ParsedMail* out) const {
  MailboxMail mail;
  if (!FindMail(server_id, &mail)) return false;
  std::unique_ptr<File> f = fs_->Open(maildir_ + "/" + mail.path, FileSystem::OpenMode::kRead);
  uint64_t size = 0;
  if (f == nullptr || !f->Size(&size)) return false;
  std::string text(static_cast<size_t>(std::min<uint64_t>(size, kMaxMailFileBytes)), '\0');
  size_t got = 0;
  if (!f->ReadAt(0, text.data(), text.size(), &got)) return false;
  text.resize(got);
  *out = ParseMail(text);
  return true;
}

int64_t Mailbox::ArrivalOf(const MailboxMail& mail) const {
  const int64_t now = NowSeconds();
  // Maildir names begin with the delivery time: "1796637600.M1P2.host:2,S".
  const std::string name = mail.path.substr(mail.path.rfind('/') + 1);
  int64_t named = 0;
  const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), named);
  if (ec == std::errc() && end != name.data() + name.size() && *end == '.' &&
      SaneTime(named, now)) {
    return named;
  }
  int64_t ns = 0;
  if (fs_->ModifiedTimeNs(maildir_ + "/" + mail.path, &ns) && SaneTime(ns / 1000000000, now)) {
    return ns / 1000000000;
  }
  return now;
}

bool Mailbox::ReadHead(uint32_t server_id, MailHead* out) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = heads_.find(server_id);
    if (it != heads_.end()) {
      *out = it->second;
      return true;
    }
  }
  MailboxMail found;
  if (!FindMail(server_id, &found)) return false;
  *out = MailHead();
  out->arrival = ArrivalOf(found);
  out->date = out->arrival;
  ParsedMail mail;
  if (!ReadMail(server_id, &mail)) return false;
  out->subject = std::move(mail.subject);
  out->from = std::move(mail.from);
  if (SaneTime(mail.date, NowSeconds())) out->date = mail.date;
  std::lock_guard<std::mutex> lock(mu_);
  heads_[server_id] = *out;
  return true;
}

bool Mailbox::DeleteMail(uint32_t server_id) {
  MailboxMail mail;
  if (!FindMail(server_id, &mail)) return true;
  const std::string trash = std::string(kTrashDir) + "/";
  if (mail.path.compare(0, trash.size(), trash) == 0) return true;  // deleted before
  for (const char* sub : {"/cur", "/new", "/tmp"}) {
    if (!fs_->MakeDirs(maildir_ + "/" + kTrashDir + sub)) return false;
  }
  const std::string file = mail.path.substr(mail.path.rfind('/') + 1);
  const std::string sub = mail.path.compare(0, 4, "new/") == 0 ||
                                  mail.path.find("/new/") != std::string::npos
                              ? "/new/"
                              : "/cur/";
  return fs_->Rename(maildir_ + "/" + mail.path, maildir_ + "/" + kTrashDir + sub + file);
}

bool Mailbox::SetUnread(uint32_t server_id, bool unread) {
  MailboxMail mail;
  if (!FindMail(server_id, &mail) || mail.unread == unread) return true;
  const size_t slash = mail.path.rfind('/');
  std::string unique, flags;
  SplitInfo(mail.path.substr(slash + 1), &unique, &flags);
  flags.erase(std::remove(flags.begin(), flags.end(), 'S'), flags.end());
  if (!unread) {
    flags += 'S';
    std::sort(flags.begin(), flags.end());  // Maildir flags are kept in ASCII order
  }
  const std::string folder_dir = mail.path.substr(0, mail.path.rfind('/', slash - 1) + 1);
  const std::string target = folder_dir + "cur/" + unique + ":2," + flags;
  return fs_->Rename(maildir_ + "/" + mail.path, maildir_ + "/" + target);
}

bool Mailbox::LoadStateLocked() {
  MailboxState state = StateLocked();
  std::vector<JournalEntry> rows;
  const DbOpen opened = db_.Open(DbPath(), &state, &rows);
  if (opened == DbOpen::kFailed) return false;
  MailboxIds mark;
  const IdMarkRead read = ReadIdMark(fs_, IdsPath(), &mark);
  // With the database new and the mark unreadable, nothing tells which
  // numbers were handed out: serving would risk handing them out again.
  if (read == IdMarkRead::kDamaged && opened == DbOpen::kStartedOver) return false;
  mark_known_ = read == IdMarkRead::kRead;
  mark_ = mark;

  journal_.Reset(1);
  for (const JournalEntry& e : rows) {
    if (!journal_.Restore(e)) return false;
  }
  // The rows themselves show numbers in use, should the stored next ones lag.
  MailboxIds stored = state.next;
  if (!mails_.empty()) stored.server_id = std::max(stored.server_id, mails_.rbegin()->first + 1);
  if (!contacts_.empty()) {
    stored.contact_id = std::max(stored.contact_id, contacts_.rbegin()->first + 1);
  }
  for (const auto& [id, f] : folders_) {
    if (id >= kFirstSubfolderId) stored.folder_id = std::max(stored.folder_id, id + 1);
  }
  stored.key = std::max(stored.key, journal_.next_seq());
  next_ = stored;
  journal_.SkipTo(stored.key);
  for (const auto& [id, m] : mails_) by_unique_[m.unique] = id;
  if (mark_known_ && (opened == DbOpen::kStartedOver || !stored.Covers(mark))) {
    StartOverAboveLocked(stored, mark);
  }
  if (db_.old_layout() && !db_.Rewrite(StateLocked(), journal_.All())) return false;
  return true;
}

void Mailbox::StartOverAboveLocked(const MailboxIds& stored, const MailboxIds& mark) {
  next_ = MailboxIds::Max(stored, mark);
  journal_.SkipTo(next_.key);
  for (uint32_t id : {kInboxFolderId, kSentFolderId, kDraftsFolderId}) {
    if (folders_.count(id) == 0) AppendLocked(JournalEntry::kDelFolder, id);
  }
  for (uint32_t id = stored.folder_id; id < mark.folder_id; ++id) {
    AppendLocked(JournalEntry::kDelFolder, id);
  }
  for (uint32_t id = stored.server_id; id < mark.server_id; ++id) {
    AppendLocked(JournalEntry::kDelMail, id);
  }
  for (uint32_t id = stored.contact_id; id < mark.contact_id; ++id) {
    AppendLocked(JournalEntry::kDelContact, id);
  }
}

MailboxIds Mailbox::IdsLocked() const {
  MailboxIds ids = next_;
  ids.key = journal_.next_seq();
  return ids;
}

bool Mailbox::SaveLocked() {
  if (unsaved_.empty()) return true;
  const MailboxIds ids = IdsLocked();
  if (!mark_known_ || !mark_.Covers(ids)) {
    if (!WriteIdMark(fs_, IdsPath(), ids)) return false;
    mark_ = ids;
    mark_known_ = true;
  }
  std::vector<ChangedObject> changed;
  changed.reserve(unsaved_.size());
  for (const auto& [object, id] : unsaved_) {
    changed.push_back(ChangedObject{object, id, journal_.EntriesOf(object, id)});
  }
  if (!db_.Save(StateLocked(), changed)) return false;
  unsaved_.clear();
  return true;
}

void Mailbox::UnloadLocked() {
  loaded_ = false;
  next_ = MailboxIds();
  mark_known_ = false;
  folders_.clear();
  mails_.clear();
  by_unique_.clear();
  journal_.Reset(1);
  unsaved_.clear();
  heads_.clear();
  contacts_.clear();
  dir_times_.clear();
}

MailboxState Mailbox::StateLocked() {
  MailboxState state;
  state.next = IdsLocked();
  state.folders = &folders_;
  state.mails = &mails_;
  state.contacts = &contacts_;
  return state;
}

}  // namespace gateway
}  // namespace quill
