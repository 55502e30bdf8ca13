#include "store/folder_store.h"

#include <algorithm>

#include "store/mail_record.h"

namespace quill {
namespace store {

bool FolderStore::Open(const std::string& path) {
  return records_.SetPath(path) && Load();
}

bool FolderStore::Settled(bool ok) {
  if (!ok && !records_.is_open()) Load();
  return ok;
}

bool FolderStore::Load() {
  folders_.clear();
  excluded_.clear();
  if (!records_.Open()) return false;
  for (uint32_t id : records_.Ids()) {
    Bytes raw;
    FolderRecord folder;
    if (!records_.ReadAll(id, &raw) || !folder.Decode(raw)) return false;
    folder.record_id = id;
    if (Find(folder.folder_id())) continue;  // a duplicate from an older run
    if (folder.excluded()) excluded_.push_back(folder.folder_id());
    folders_.push_back(std::move(folder));
  }
  return true;
}

const FolderRecord* FolderStore::Find(uint32_t folder_id) const {
  for (const FolderRecord& f : folders_) {
    if (f.folder_id() == folder_id) return &f;
  }
  return nullptr;
}

FolderRecord* FolderStore::FindMutable(uint32_t folder_id) {
  return const_cast<FolderRecord*>(Find(folder_id));
}

bool FolderStore::Store(FolderRecord* folder) {
  if (folder->name().empty()) return true;
  if (folder->record_id != 0) return Settled(records_.WriteAll(folder->record_id, folder->raw()));
  folder->record_id = records_.Insert(folder->raw());
  return Settled(folder->record_id != 0);
}

bool FolderStore::AddFolder(uint32_t folder_id, const std::u16string& name) {
  if (folder_id == kAllFolders || Find(folder_id)) return false;
  FolderRecord folder(folder_id, name);
  if (!Store(&folder)) return false;
  folders_.push_back(std::move(folder));
  return true;
}

bool FolderStore::DeleteFolder(uint32_t folder_id) {
  auto it = std::find_if(folders_.begin(), folders_.end(),
                         [&](const FolderRecord& f) { return f.folder_id() == folder_id; });
  if (it == folders_.end()) return false;
  const uint32_t record_id = it->record_id;
  folders_.erase(it);
  excluded_.erase(std::remove(excluded_.begin(), excluded_.end(), folder_id), excluded_.end());
  return record_id == 0 || Settled(records_.Delete(record_id));
}

bool FolderStore::UpdateFolder(uint32_t folder_id, uint32_t mask, const std::u16string& name) {
  FolderRecord* folder = FindMutable(folder_id);
  if (!folder) return false;
  if (mask & 1) folder->set_name(name);
  return Store(folder);
}

bool FolderStore::CanExclude(uint32_t folder_id) {
  return folder_id != kAllFolders && folder_id != 1 && folder_id != kSentFolder &&
         folder_id != kLocalFolder && folder_id != kUnreadView;
}

bool FolderStore::SetFolderExcluded(uint32_t folder_id, bool excluded) {
  FolderRecord* folder = FindMutable(folder_id);
  if (!folder || !CanExclude(folder_id)) return false;
  if (folder->excluded() == excluded) return true;
  folder->set_excluded(excluded);
  if (excluded) {
    excluded_.push_back(folder_id);
  } else {
    excluded_.erase(std::remove(excluded_.begin(), excluded_.end(), folder_id), excluded_.end());
  }
  return Store(folder);
}

}  // namespace store
}  // namespace quill
