#include "platform/fault_file_system.h"

#include <algorithm>
#include <cerrno>

#include "platform/last_error.h"

namespace quill {
namespace {

// Directory keys never end in '/', so "a/b/" and "a/b" are one log.
std::string DirKey(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir.empty() ? "." : dir;
}

std::string DirOf(const std::string& path) { return DirKey(DirName(path)); }

bool Coin(std::mt19937_64* rng, double p) {
  return std::uniform_real_distribution<double>(0.0, 1.0)(*rng) < p;
}

}  // namespace

class FaultInjectingFileSystem::FaultFile : public File {
 public:
  // node is -1 for a file opened to read only.
  FaultFile(FaultInjectingFileSystem* owner, int node, std::unique_ptr<File> base)
      : owner_(owner), node_(node), base_(std::move(base)) {}

  bool ReadAt(uint64_t offset, void* buf, size_t n, size_t* got) override {
    return base_->ReadAt(offset, buf, n, got);
  }
  bool WriteAt(uint64_t offset, const void* buf, size_t n) override {
    std::lock_guard<std::mutex> lock(owner_->mu_);
    if (!owner_->CountChange()) return false;
    if (owner_->NextWriteFails()) {
      SetLastError(owner_->fail_write_error_);
      return false;
    }
    if (!base_->WriteAt(offset, buf, n)) return false;
    owner_->RecordWrite(node_, offset, buf, n);
    return true;
  }
  bool Truncate(uint64_t size) override {
    std::lock_guard<std::mutex> lock(owner_->mu_);
    if (!owner_->CountChange() || !base_->Truncate(size)) return false;
    owner_->RecordTruncate(node_, size);
    return true;
  }
  bool Sync() override {
    std::lock_guard<std::mutex> lock(owner_->mu_);
    if (!owner_->CountChange()) return false;
    if (owner_->NextSyncFails()) {
      SetLastError(EIO);
      return false;
    }
    owner_->MarkSynced(node_);  // the model decides what lasts; the disk is not synced
    return true;
  }
  bool Size(uint64_t* size) override { return base_->Size(size); }

 private:
  FaultInjectingFileSystem* const owner_;  // outlives every file it opened
  const int node_;                         // the shadow, -1 when read-only
  const std::unique_ptr<File> base_;       // the real file
};

FaultInjectingFileSystem::FaultInjectingFileSystem(FileSystem* base) : base_(base) {}

void FaultInjectingFileSystem::FailWrite(uint64_t nth, bool sticky, uint32_t error) {
  std::lock_guard<std::mutex> lock(mu_);
  fail_write_at_ = nth == 0 ? 0 : writes_ + nth;
  fail_write_sticky_ = sticky;
  fail_write_error_ = error;
}

void FaultInjectingFileSystem::FailSync(uint64_t nth) {
  std::lock_guard<std::mutex> lock(mu_);
  fail_sync_at_ = nth == 0 ? 0 : syncs_ + nth;
}

void FaultInjectingFileSystem::SetFreeSpace(std::optional<uint64_t> bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  free_space_ = bytes;
}

void FaultInjectingFileSystem::FreezeAfter(uint64_t n) {
  std::lock_guard<std::mutex> lock(mu_);
  freeze_at_ = changes_ + n + 1;
}

bool FaultInjectingFileSystem::frozen() const {
  std::lock_guard<std::mutex> lock(mu_);
  return frozen_;
}

uint64_t FaultInjectingFileSystem::write_count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return writes_;
}

uint64_t FaultInjectingFileSystem::sync_count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return syncs_;
}

uint64_t FaultInjectingFileSystem::change_count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return changes_;
}

bool FaultInjectingFileSystem::CountChange() {
  ++changes_;
  if (freeze_at_ != 0 && changes_ >= freeze_at_) frozen_ = true;
  if (!frozen_) return true;
  SetLastError(EIO);
  return false;
}

bool FaultInjectingFileSystem::NextWriteFails() {
  ++writes_;
  if (fail_write_at_ == 0) return false;
  return writes_ == fail_write_at_ || (fail_write_sticky_ && writes_ > fail_write_at_);
}

bool FaultInjectingFileSystem::NextSyncFails() {
  ++syncs_;
  return fail_sync_at_ != 0 && syncs_ == fail_sync_at_;
}

int FaultInjectingFileSystem::NewNode(Bytes durable, bool created) {
  nodes_.push_back(Node{std::move(durable), {}, false, created});
  return static_cast<int>(nodes_.size() - 1);
}

int FaultInjectingFileSystem::NodeAt(const std::string& path) {
  auto it = names_.find(path);
  if (it != names_.end()) return it->second;
  Bytes content;
  if (!base_->ReadFile(path, &content)) return -1;  // none, or a directory
  const int node = NewNode(std::move(content), false);
  names_[path] = node;
  return node;
}

void FaultInjectingFileSystem::Log(const std::string& dir, EntryChange change) {
  logs_[DirKey(dir)].push_back(std::move(change));
}

void FaultInjectingFileSystem::RecordWrite(int node, uint64_t offset, const void* data, size_t n) {
  if (node < 0) return;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  nodes_[node].pending.push_back(Change{false, offset, Bytes(p, p + n)});
}

void FaultInjectingFileSystem::RecordTruncate(int node, uint64_t size) {
  if (node < 0) return;
  nodes_[node].pending.push_back(Change{true, size, {}});
}

void FaultInjectingFileSystem::MarkSynced(int node) {
  if (node < 0) return;
  Node& n = nodes_[node];
  for (const Change& c : n.pending) Apply(c, &n.durable);
  n.pending.clear();
  n.ever_synced = true;
}

void FaultInjectingFileSystem::Apply(const Change& change, Bytes* content) {
  if (change.truncate) {
    content->resize(change.offset, 0);
    return;
  }
  const size_t end = change.offset + change.data.size();
  if (content->size() < end) content->resize(end, 0);
  std::copy(change.data.begin(), change.data.end(), content->begin() + change.offset);
}

Bytes FaultInjectingFileSystem::CutContent(const Node& node, double lost, double torn,
                                           std::mt19937_64* rng) {
  Bytes content = node.durable;
  for (const Change& c : node.pending) {
    if (c.truncate) {
      if (!Coin(rng, lost)) Apply(c, &content);
      continue;
    }
    // Sector by sector of the file: each piece lands whole, not at all, or
    // in part (a prefix).
    size_t done = 0;
    while (done < c.data.size()) {
      const uint64_t at = c.offset + done;
      const size_t piece = std::min<size_t>(c.data.size() - done, kSectorSize - at % kSectorSize);
      const double r = std::uniform_real_distribution<double>(0.0, 1.0)(*rng);
      size_t lands = piece;
      if (r < lost) {
        lands = 0;
      } else if (r < lost + torn) {
        lands = static_cast<size_t>((*rng)() % piece);
      }
      if (lands > 0) {
        Change part{false, at, Bytes(c.data.begin() + done, c.data.begin() + done + lands)};
        Apply(part, &content);
      }
      done += piece;
    }
  }
  return content;
}

void FaultInjectingFileSystem::Cut(bool all_or_nothing, uint64_t seed) {
  std::mt19937_64 rng(seed);
  // How hard this cut is: everything lost, everything kept, or a mix.
  double lost = 1.0, torn = 0.0;
  if (!all_or_nothing) {
    const uint64_t kind = rng() % 8;
    if (kind == 0) {
      lost = 1.0;
    } else if (kind == 1) {
      lost = 0.0;
    } else {
      lost = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
      torn = std::uniform_real_distribution<double>(0.0, 0.4)(rng) * (1.0 - lost);
    }
  }
  // Names: undo what each directory did not make durable, newest first.
  std::map<std::string, int> kept = names_;
  std::vector<std::string> wiped;  // directories whose making was undone
  for (const auto& [dir, log] : logs_) {
    size_t keep = log.size();
    if (!all_or_nothing) {
      const uint64_t kind = rng() % 4;
      keep = kind == 0 ? 0 : kind == 1 ? log.size() : static_cast<size_t>(rng() % (log.size() + 1));
    }
    for (size_t i = log.size(); i-- > keep;) {
      const EntryChange& c = log[i];
      switch (c.kind) {
        case EntryChange::kCreate:
          kept.erase(c.path);
          break;
        case EntryChange::kDelete:
          kept[c.path] = c.node;
          break;
        case EntryChange::kRename:
          kept[c.from] = c.node;
          if (c.displaced >= 0) {
            kept[c.path] = c.displaced;
          } else {
            kept.erase(c.path);
          }
          break;
        case EntryChange::kMakeDir:
          wiped.push_back(c.path + "/");
          break;
      }
    }
  }
  for (const std::string& prefix : wiped) {
    for (auto it = kept.lower_bound(prefix); it != kept.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
      it = kept.erase(it);
    }
  }
  if (all_or_nothing) {
    for (auto it = kept.begin(); it != kept.end();) {
      const Node& n = nodes_[it->second];
      it = n.created && !n.ever_synced ? kept.erase(it) : std::next(it);
    }
  }
  // Data, then the disk as the cut leaves it.
  std::map<int, Bytes> contents;
  for (const auto& [path, node] : kept) {
    if (!contents.count(node)) contents[node] = CutContent(nodes_[node], lost, torn, &rng);
  }
  for (const auto& [path, node] : names_) {
    if (!kept.count(path)) base_->Delete(path);
  }
  for (const auto& [path, node] : kept) {
    const std::string dir = DirName(path);
    if (!dir.empty()) base_->MakeDirs(dir);
    std::unique_ptr<File> f = base_->OpenRaw(path, OpenMode::kCreate, 0644);
    const Bytes& content = contents[node];
    if (f) {
      // Written, then cut: a cut to zero first would make the disk flush
      // the file when it is closed.
      f->WriteAt(0, content.data(), content.size());
      f->Truncate(content.size());
    }
  }
  nodes_.clear();
  names_.clear();
  logs_.clear();
  frozen_ = false;
  freeze_at_ = 0;
}

void FaultInjectingFileSystem::CutPower(uint64_t seed) {
  std::lock_guard<std::mutex> lock(mu_);
  Cut(false, seed);
}

void FaultInjectingFileSystem::SimulateCrash() {
  std::lock_guard<std::mutex> lock(mu_);
  Cut(true, 0);
}

std::unique_ptr<File> FaultInjectingFileSystem::OpenRaw(const std::string& path, OpenMode mode,
                                                        uint32_t mode_bits) {
  std::lock_guard<std::mutex> lock(mu_);
  if (mode == OpenMode::kRead) {
    std::unique_ptr<File> base = base_->OpenRaw(path, mode, mode_bits);
    if (!base) return nullptr;
    return std::make_unique<FaultFile>(this, -1, std::move(base));
  }
  int node = NodeAt(path);
  const bool creates = node < 0 && mode == OpenMode::kCreate && !base_->Exists(path);
  if (creates && !CountChange()) return nullptr;
  std::unique_ptr<File> base = base_->OpenRaw(path, mode, mode_bits);
  if (!base) return nullptr;
  if (creates) {
    node = NewNode({}, true);
    names_[path] = node;
    Log(DirOf(path), EntryChange{EntryChange::kCreate, path, "", node, -1});
  }
  return std::make_unique<FaultFile>(this, node, std::move(base));
}

bool FaultInjectingFileSystem::Exists(const std::string& path) { return base_->Exists(path); }

bool FaultInjectingFileSystem::Delete(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!CountChange()) return false;
  const int node = NodeAt(path);
  if (!base_->Delete(path)) return false;
  if (node >= 0) {
    names_.erase(path);
    Log(DirOf(path), EntryChange{EntryChange::kDelete, path, "", node, -1});
  }
  return true;
}

bool FaultInjectingFileSystem::Rename(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!CountChange()) return false;
  const int node = NodeAt(from);
  const int displaced = NodeAt(to);
  if (!base_->Rename(from, to)) return false;
  names_.erase(from);
  if (node < 0) {
    names_.erase(to);  // not a file the wrapper can shadow
    return true;
  }
  names_[to] = node;
  Log(DirOf(to), EntryChange{EntryChange::kRename, to, from, node, displaced});
  return true;
}

bool FaultInjectingFileSystem::MakeDirs(const std::string& dir) {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> made;  // innermost first
  for (std::string d = DirKey(dir); d != "." && d != "/" && !base_->Exists(d); d = DirKey(DirName(d))) {
    made.push_back(d);
  }
  if (made.empty()) return base_->MakeDirs(dir);
  if (!CountChange() || !base_->MakeDirs(dir)) return false;
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    Log(DirOf(*it), EntryChange{EntryChange::kMakeDir, *it, "", -1, -1});
  }
  return true;
}

bool FaultInjectingFileSystem::ListPrefix(const std::string& dir, const std::string& prefix,
                                          std::vector<std::string>* names) {
  return base_->ListPrefix(dir, prefix, names);
}

bool FaultInjectingFileSystem::SyncDir(const std::string& dir) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!CountChange()) return false;
  if (!base_->Exists(dir)) {
    SetLastError(ENOENT);
    return false;
  }
  logs_.erase(DirKey(dir));
  return true;
}

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
