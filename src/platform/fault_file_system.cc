#include "platform/fault_file_system.h"

#include <cerrno>

#include "platform/last_error.h"

namespace quill {

class FaultInjectingFileSystem::FaultFile : public File {
 public:
  FaultFile(FaultInjectingFileSystem* owner, std::string path, std::unique_ptr<File> base)
      : owner_(owner), path_(std::move(path)), base_(std::move(base)) {}

  bool ReadAt(uint64_t offset, void* buf, size_t n, size_t* got) override {
    return base_->ReadAt(offset, buf, n, got);
  }
  bool WriteAt(uint64_t offset, const void* buf, size_t n) override {
    if (owner_->NextWriteFails()) {
      SetLastError(EIO);
      return false;
    }
    return base_->WriteAt(offset, buf, n);
  }
  bool Truncate(uint64_t size) override { return base_->Truncate(size); }
  bool Sync() override {
    if (owner_->NextSyncFails()) {
      SetLastError(EIO);
      return false;
    }
    if (!base_->Sync()) return false;
    owner_->MarkSynced(path_);
    return true;
  }
  bool Size(uint64_t* size) override { return base_->Size(size); }

 private:
  FaultInjectingFileSystem* const owner_;  // outlives every file it opened
  const std::string path_;                 // as opened
  const std::unique_ptr<File> base_;       // the real file
};

FaultInjectingFileSystem::FaultInjectingFileSystem(FileSystem* base) : base_(base) {}

void FaultInjectingFileSystem::FailWrite(uint64_t nth, bool sticky) {
  std::lock_guard<std::mutex> lock(mu_);
  fail_write_at_ = nth == 0 ? 0 : writes_ + nth;
  fail_write_sticky_ = sticky;
}

void FaultInjectingFileSystem::FailSync(uint64_t nth) {
  std::lock_guard<std::mutex> lock(mu_);
  fail_sync_at_ = nth == 0 ? 0 : syncs_ + nth;
}

void FaultInjectingFileSystem::SetFreeSpace(std::optional<uint64_t> bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  free_space_ = bytes;
}

uint64_t FaultInjectingFileSystem::write_count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return writes_;
}

uint64_t FaultInjectingFileSystem::sync_count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return syncs_;
}

bool FaultInjectingFileSystem::NextWriteFails() {
  std::lock_guard<std::mutex> lock(mu_);
  ++writes_;
  if (fail_write_at_ == 0) return false;
  return writes_ == fail_write_at_ || (fail_write_sticky_ && writes_ > fail_write_at_);
}

bool FaultInjectingFileSystem::NextSyncFails() {
  std::lock_guard<std::mutex> lock(mu_);
  ++syncs_;
  return fail_sync_at_ != 0 && syncs_ == fail_sync_at_;
}

void FaultInjectingFileSystem::Track(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  if (durable_.count(path)) return;
  Durable d{false, {}};
  d.exists = base_->ReadFile(path, &d.content);
  durable_[path] = std::move(d);
}

void FaultInjectingFileSystem::MarkSynced(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  Durable d{false, {}};
  d.exists = base_->ReadFile(path, &d.content);
  durable_[path] = std::move(d);
}

void FaultInjectingFileSystem::SimulateCrash() {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& [path, d] : durable_) {
    if (!d.exists) {
      base_->Delete(path);
      continue;
    }
    std::unique_ptr<File> f = base_->OpenRaw(path, OpenMode::kCreate, 0644);
    if (f) {
      f->Truncate(0);
      f->WriteAt(0, d.content.data(), d.content.size());
    }
  }
  durable_.clear();
}

std::unique_ptr<File> FaultInjectingFileSystem::OpenRaw(const std::string& path, OpenMode mode,
                                                        uint32_t mode_bits) {
  if (mode != OpenMode::kRead) Track(path);
  std::unique_ptr<File> base = base_->OpenRaw(path, mode, mode_bits);
  if (!base) return nullptr;
  return std::make_unique<FaultFile>(this, path, std::move(base));
}

bool FaultInjectingFileSystem::Exists(const std::string& path) { return base_->Exists(path); }

bool FaultInjectingFileSystem::Delete(const std::string& path) {
  if (!base_->Delete(path)) return false;
  std::lock_guard<std::mutex> lock(mu_);
  durable_.erase(path);
  return true;
}

bool FaultInjectingFileSystem::Rename(const std::string& from, const std::string& to) {
  if (!base_->Rename(from, to)) return false;
  std::lock_guard<std::mutex> lock(mu_);
  auto it = durable_.find(from);
  if (it == durable_.end()) {
    durable_.erase(to);  // its content came from outside: durable as it is
  } else {
    durable_[to] = std::move(it->second);
    durable_.erase(from);
  }
  return true;
}

bool FaultInjectingFileSystem::MakeDirs(const std::string& dir) { return base_->MakeDirs(dir); }

bool FaultInjectingFileSystem::ListPrefix(const std::string& dir, const std::string& prefix,
                                          std::vector<std::string>* names) {
  return base_->ListPrefix(dir, prefix, names);
}

bool FaultInjectingFileSystem::SyncDir(const std::string& dir) { return base_->SyncDir(dir); }

bool FaultInjectingFileSystem::ModifiedTimeNs(const std::string& path, int64_t* ns) {
  return base_->ModifiedTimeNs(path, ns);
}

bool FaultInjectingFileSystem::FreeSpace(const std::string& path, uint64_t* bytes) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (free_space_) {
      *bytes = *free_space_;
      return true;
    }
  }
  return base_->FreeSpace(path, bytes);
}

}  // namespace quill
