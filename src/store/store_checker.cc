#include "store/store_checker.h"

#include <set>
#include <unordered_map>

#include "store/address_book.h"
#include "store/command_queue.h"
#include "store/folder_record.h"
#include "store/mail_record.h"
#include "store/mail_store.h"
#include "store/record_file.h"

namespace quill {
namespace store {
namespace {

std::string At(const char* file, const RecordFile& f, uint32_t id) {
  return std::string(file) + " slot " + std::to_string(f.SlotOf(id)) + " (record " + std::to_string(id) + "): ";
}

// Opens a record file read-only and reports what opening found.
bool OpenChecked(RecordFile* f, const std::string& dir, const char* name, StoreCheckReport* r) {
  f->SetPath(dir + name);
  if (!f->Open()) {
    r->problems.push_back(std::string(name) + ": cannot be read");
    return false;
  }
  for (const std::string& p : f->report().problems) r->problems.push_back(std::string(name) + ": " + p);
  r->facts.push_back(std::string(name) + ": " + std::to_string(f->report().records) + " records, " +
                     std::to_string(f->report().slots) + " slots, " +
                     std::to_string(f->report().free_slots) + " free");
  if (f->report().rolled_back) {
    r->facts.push_back(std::string(name) + ": a change was cut short; checked as opening will roll it back");
  }
  return true;
}

void CheckMails(FileSystem* fs, const std::string& dir, StoreCheckReport* r, std::set<uint32_t>* ids) {
  RecordFile f(fs, MailStore::kSlotSize, /*read_only=*/true);
  if (!OpenChecked(&f, dir, "mails.idx", r)) return;
  std::unordered_map<uint32_t, uint32_t> by_server_id;
  for (uint32_t id : f.Ids()) {
    ids->insert(id);
    Bytes raw;
    if (!f.ReadAll(id, &raw)) {
      r->problems.push_back(At("mails.idx", f, id) + "cannot be read");
      continue;
    }
    MailRecord m;
    m.Decode(raw);
    uint32_t text = 0;
    for (int i = 0; i < 6; ++i) text += m.text_length(i);
    if (text > MailRecord::kTextArea) r->problems.push_back(At("mails.idx", f, id) + "text lengths exceed 6144");
    const uint16_t state = static_cast<uint16_t>(raw[MailRecord::kStateAt] | (raw[MailRecord::kStateAt + 1] << 8));
    if (state >> 5) r->problems.push_back(At("mails.idx", f, id) + "unknown state bits");
    if (m.body_state() != kNoBody && m.body_state() != kBodyIncomplete && m.body_state() != kBodyComplete) {
      r->problems.push_back(At("mails.idx", f, id) + "body state " + std::to_string(m.body_state()));
    }
    const uint32_t s = m.server_id();
    if (s != 0 && s != kLocalServerId && m.local_kind() == 0) {
      auto [it, fresh] = by_server_id.emplace(s, id);
      if (!fresh) {
        r->problems.push_back(At("mails.idx", f, id) + "ServerID " + std::to_string(s) + " also in record " +
                              std::to_string(it->second));
      }
    }
  }
}

void CheckFolders(FileSystem* fs, const std::string& dir, StoreCheckReport* r) {
  RecordFile f(fs, 520, true);
  if (!fs->Exists(dir + "folders.idx") || !OpenChecked(&f, dir, "folders.idx", r)) return;
  std::set<uint32_t> seen;
  for (uint32_t id : f.Ids()) {
    Bytes raw;
    FolderRecord folder;
    if (!f.ReadAll(id, &raw) || !folder.Decode(raw)) {
      r->problems.push_back(At("folders.idx", f, id) + "cannot be read");
      continue;
    }
    if (folder.folder_id() == kAllFolders) r->problems.push_back(At("folders.idx", f, id) + "FolderID 0");
    if (!seen.insert(folder.folder_id()).second) {
      r->problems.push_back(At("folders.idx", f, id) + "FolderID " + std::to_string(folder.folder_id()) + " twice");
    }
    if (raw[FolderRecord::kNameAt + FolderRecord::kNameRoom - 1] != 0) {
      r->problems.push_back(At("folders.idx", f, id) + "name not terminated");
    }
    if (raw[FolderRecord::kExcludedAt] > 1) r->problems.push_back(At("folders.idx", f, id) + "excluded flag");
  }
}

void CheckContacts(FileSystem* fs, const std::string& dir, StoreCheckReport* r) {
  RecordFile f(fs, AddressBook::kSlotSize, true);
  if (!fs->Exists(dir + "address.txt") || !OpenChecked(&f, dir, "address.txt", r)) return;
  std::set<uint32_t> seen;
  for (uint32_t id : f.Ids()) {
    Bytes raw;
    ContactRecord c;
    if (!f.ReadAll(id, &raw) || !c.Decode(ByteView(raw))) {
      r->problems.push_back(At("address.txt", f, id) + "cannot be read");
      continue;
    }
    if (c.address.empty()) r->problems.push_back(At("address.txt", f, id) + "empty address");
    if (c.contact_id != kLocalContactId && !seen.insert(c.contact_id).second) {
      r->problems.push_back(At("address.txt", f, id) + "contact id " + std::to_string(c.contact_id) + " twice");
    }
  }
}

// Directories holding files of mails the index does not know.
void CheckMailDirs(FileSystem* fs, const std::string& dir, const std::set<uint32_t>& ids,
                   StoreCheckReport* r) {
  size_t dirs = 0;
  for (uint32_t bucket = 0; bucket < 100; ++bucket) {
    const std::string b = dir + (bucket < 10 ? "0" : "") + std::to_string(bucket);
    std::vector<std::string> names;
    if (!fs->ListPrefix(b, "", &names)) continue;
    for (const std::string& name : names) {
      ++dirs;
      uint64_t id = 0;
      bool numeric = !name.empty() && name.size() <= 10 && name[0] != '0';
      for (char c : name) numeric = numeric && c >= '0' && c <= '9';
      if (numeric) id = std::stoull(name);
      if (!numeric || id > UINT32_MAX || id % 100 != bucket) {
        r->problems.push_back(b + "/" + name + ": not a per-mail directory of this bucket");
        continue;
      }
      std::vector<std::string> files;
      if (ids.count(static_cast<uint32_t>(id)) == 0 && fs->ListPrefix(b + "/" + name, "", &files)) {
        for (const std::string& file : files) {
          if (file != "Attachments") {
            r->problems.push_back(b + "/" + name + ": files of a mail not in mails.idx");
            break;
          }
        }
      }
    }
  }
  r->facts.push_back("per-mail directories: " + std::to_string(dirs));
}

void CheckCommands(FileSystem* fs, const std::string& dir, StoreCheckReport* r) {
  for (const char* name : {"CmdFile", "CmdFileCopy"}) {
    Bytes bytes;
    if (!fs->Exists(dir + name)) continue;
    if (!fs->ReadFile(dir + name, &bytes)) {
      r->problems.push_back(std::string(name) + ": cannot be read");
      continue;
    }
    if (bytes.size() % CommandQueue::kRecordSize != 0) {
      r->problems.push_back(std::string(name) + ": " + std::to_string(bytes.size()) + " bytes, not whole records");
    }
    r->facts.push_back(std::string(name) + ": " + std::to_string(bytes.size() / CommandQueue::kRecordSize) +
                       " commands");
  }
}

}  // namespace

StoreCheckReport CheckAccountStore(FileSystem* fs, const std::string& account_dir) {
  StoreCheckReport r;
  std::set<uint32_t> ids;
  if (!fs->Exists(account_dir + "mails.idx")) {
    r.facts.push_back("mails.idx: missing");
  } else {
    CheckMails(fs, account_dir, &r, &ids);
  }
  CheckFolders(fs, account_dir, &r);
  CheckContacts(fs, account_dir, &r);
  CheckMailDirs(fs, account_dir, ids, &r);
  CheckCommands(fs, account_dir, &r);
  return r;
}

}  // namespace store
}  // namespace quill
