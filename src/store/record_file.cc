#include "store/record_file.h"

#include <algorithm>
#include <cstring>

#include "store/filetime.h"
#include "store/le_bytes.h"

namespace quill {
namespace store {
namespace {

// Header fields.
constexpr size_t kLastIdAt = 12;
constexpr size_t kFreeHeadAt = 16;
constexpr size_t kFirstUsedAt = 20;
constexpr size_t kCountAt = 28;
constexpr size_t kSlotSizeAt = 32;
constexpr size_t kTimeAt = 4;

uint32_t GrowSlotsFor(uint32_t slot_size) {
  if (slot_size == 8192) return 8;
  if (slot_size == 520) return 100;
  return std::max<uint32_t>(1, 65536 / slot_size);
}

// Per-slot state while a file is checked.
enum SlotState : uint8_t { kUnseen = 0, kUsed = 1, kFree = 2 };

// The bytes of a payload up to its last non-zero one (records are mostly
// zero room: the zeros are compared a block at a time).
size_t UsedLength(ByteView payload) {
  static const uint8_t kZeros[256] = {};
  size_t n = payload.size;
  while (n >= sizeof kZeros && std::memcmp(payload.data + n - sizeof kZeros, kZeros, sizeof kZeros) == 0) {
    n -= sizeof kZeros;
  }
  while (n > 0 && payload.data[n - 1] == 0) --n;
  return n;
}

// The parts of [lo, hi) outside a set of disjoint ranges (start -> end).
std::vector<std::pair<uint64_t, uint64_t>> Uncovered(const std::map<uint64_t, uint64_t>& set,
                                                     uint64_t lo, uint64_t hi) {
  std::vector<std::pair<uint64_t, uint64_t>> out;
  auto it = set.upper_bound(lo);
  if (it != set.begin()) --it;
  uint64_t at = lo;
  for (; it != set.end() && it->first < hi && at < hi; ++it) {
    if (it->second <= at) continue;
    if (it->first > at) out.emplace_back(at, it->first);
    at = std::max(at, it->second);
  }
  if (at < hi) out.emplace_back(at, hi);
  return out;
}

// Adds [lo, hi) to a set of disjoint ranges, merging what touches it.
void Cover(std::map<uint64_t, uint64_t>* set, uint64_t lo, uint64_t hi) {
  auto it = set->upper_bound(lo);
  if (it != set->begin() && std::prev(it)->second >= lo) --it;
  while (it != set->end() && it->first <= hi) {
    lo = std::min(lo, it->first);
    hi = std::max(hi, it->second);
    it = set->erase(it);
  }
  (*set)[lo] = hi;
}

}  // namespace

RecordFile::RecordFile(FileSystem* fs, uint32_t slot_size, bool read_only)
    : fs_(fs),
      slot_size_(slot_size),
      grow_slots_(GrowSlotsFor(slot_size)),
      read_only_(read_only),
      journal_(fs) {}

RecordFile::~RecordFile() = default;

bool RecordFile::SetPath(const std::string& path) {
  if (file_) return false;
  path_ = path;
  return true;
}

void RecordFile::SetLoadPrefix(uint32_t bytes) { load_prefix_ = std::min(bytes, payload_size()); }

void RecordFile::AddLoadObserver(const std::shared_ptr<LoadObserver>& observer) {
  load_observers_.Add(observer);
}

uint32_t RecordFile::counted_records() const { return GetLe32(header_ + kCountAt); }

uint64_t RecordFile::creation_time() const { return GetLe64(header_ + kTimeAt); }

uint64_t RecordFile::SlotOffset(uint32_t slot) const {
  return kHeaderSize + static_cast<uint64_t>(slot - 1) * slot_size_;
}

void RecordFile::Problem(std::string text) { report_.problems.push_back(std::move(text)); }

bool RecordFile::Open() {
  if (file_) return true;
  if (path_.empty()) return false;
  report_ = RecordFileReport();
  Close();
  if (!OpenFile()) {
    Close();
    return false;
  }
  return true;
}

void RecordFile::Close() {
  file_.reset();
  journal_.Close();
  index_.clear();
  free_.clear();
  zeroed_.clear();
  first_id_ = 0;
  held_.clear();
  held_bytes_ = 0;
  journaled_.clear();
  written_ = false;
}

bool RecordFile::Fail() {
  ++failures_;
  Close();
  return false;
}

bool RecordFile::OpenFile() {
  file_ = fs_->Open(path_, read_only_ ? FileSystem::OpenMode::kRead : FileSystem::OpenMode::kCreate);
  if (!file_ || !journal_.Open(path_ + ".journal", read_only_)) return false;
  uint64_t size = 0;
  if (!file_->Size(&size)) return false;
  disk_size_ = size_ = committed_size_ = size;
  if (!RollBack()) return false;
  size = size_;
  if (size == 0) {
    report_.created = true;
    return read_only_ ? true : StartOver(false);
  }
  bool valid = false;
  if (size >= kHeaderSize) {
    if (!Get(0, header_, kHeaderSize)) return false;
    const uint64_t room = (size - kHeaderSize) / slot_size_;
    valid = header_[0] == 'N' && header_[1] == 'X' && GetLe32(header_ + kSlotSizeAt) == slot_size_ &&
            GetLe32(header_ + kCountAt) <= room;
    if (room > UINT32_MAX) valid = false;
  }
  if (!valid) {
    Problem("invalid header");
    if (read_only_) {
      std::fill(header_, header_ + kHeaderSize, 0);
      return true;
    }
    report_.reset = true;
    return StartOver(true);
  }
  slots_ = static_cast<uint32_t>((size - kHeaderSize) / slot_size_);
  if (SlotOffset(slots_ + 1) != size && !read_only_) {
    // A partial slot at the end (a growth cut short in a file written
    // before it had a journal) holds nothing a record refers to.
    const uint64_t whole = SlotOffset(slots_ + 1);
    if (!file_->Truncate(whole) || !file_->Sync()) return false;
    disk_size_ = size_ = committed_size_ = whole;
  }
  zeroed_.assign(static_cast<size_t>(slots_) + 1, false);  // what a free slot holds is unknown
  report_.slots = slots_;
  last_id_ = std::max(GetLe32(header_ + kLastIdAt), issued_last_id_);
  bool changed = false;
  if (!LoadChain(&changed)) return false;
  if (changed && !read_only_) {
    WriteHeader();
    if (!Commit()) return false;
    report_.repaired = true;
  }
  report_.records = static_cast<uint32_t>(index_.size());
  report_.free_slots = static_cast<uint32_t>(free_.size());
  return true;
}

bool RecordFile::RollBack() {
  uint64_t committed = 0;
  std::vector<RollbackJournal::Record> records;
  bool error = false;
  if (!journal_.ReadHot(slot_size_, &committed, &records, &error)) return !error;
  if (disk_size_ == 0) {
    // The file the journal protected is gone; there is nothing to restore.
    return read_only_ || journal_.End();
  }
  report_.rolled_back = true;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    Bytes bytes = std::move(it->bytes);
    bytes.resize(it->length, 0);
    if (read_only_) {
      Put(it->offset, bytes.data(), bytes.size());  // shown, never written
    } else if (!file_->WriteAt(it->offset, bytes.data(), bytes.size())) {
      return false;
    }
  }
  if (read_only_) {
    size_ = committed;
    return true;
  }
  if (!file_->Truncate(committed) || !file_->Sync() || !journal_.End()) return false;
  disk_size_ = size_ = committed_size_ = committed;
  return true;
}

bool RecordFile::StartOver(bool keep_bad) {
  if (keep_bad) {
    file_.reset();
    if (!fs_->Rename(path_, path_ + ".bad")) return false;
    file_ = fs_->Open(path_, FileSystem::OpenMode::kCreate);
    if (!file_) return false;
  }
  std::fill(header_, header_ + kHeaderSize, 0);
  header_[0] = 'N';
  header_[1] = 'X';
  header_[3] = 1;
  PutLe64(header_ + kTimeAt, FiletimeNow());
  PutLe32(header_ + kSlotSizeAt, slot_size_);
  slots_ = 0;
  zeroed_.assign(1, false);
  last_id_ = issued_last_id_;
  PutLe32(header_ + kLastIdAt, last_id_);
  const std::string dir = DirName(path_);
  if (!file_->WriteAt(0, header_, kHeaderSize) || !file_->Truncate(kHeaderSize) || !file_->Sync() ||
      !fs_->SyncDir(dir.empty() ? "." : dir)) {
    return false;
  }
  disk_size_ = size_ = committed_size_ = kHeaderSize;
  return true;
}

bool RecordFile::LoadChain(bool* changed) {
  std::vector<uint8_t> state(static_cast<size_t>(slots_) + 1, kUnseen);
  const uint32_t count = GetLe32(header_ + kCountAt);
  Bytes buf(kSlotHeaderSize + load_prefix_);
  uint32_t slot = GetLe32(header_ + kFirstUsedAt);
  uint32_t prev_id = 0;            // the record visited before
  Descriptor* prev = nullptr;      // its descriptor (map nodes do not move)
  uint32_t max_id = 0;
  bool cut = false;
  index_.reserve(count);
  const auto observers = load_observers_.Live();
  while (slot != 0) {
    std::string why;
    if (slot > slots_) {
      why = "out of range";
    } else if (state[slot] != kUnseen) {
      why = "seen before (cycle)";
    }
    uint32_t id = 0;
    uint32_t next = 0;
    Descriptor* added = nullptr;
    if (why.empty()) {
      if (!Get(SlotOffset(slot), buf.data(), buf.size())) return false;
      id = GetLe32(buf.data());
      next = GetLe32(buf.data() + 4);
      if (id != 0) {
        auto [it, fresh] = index_.emplace(id, Descriptor{slot, prev_id, 0});
        if (fresh) added = &it->second;
      }
      if (!added) why = "duplicate or zero id " + std::to_string(id);
    }
    if (!why.empty()) {
      Problem("used chain: slot " + std::to_string(slot) + " " + why + "; chain cut");
      *changed = true;
      cut = true;
      if (prev == nullptr) {
        first_id_ = 0;
      } else {
        prev->next = 0;
        if (!read_only_) WriteNext(prev->slot, 0);
      }
      break;
    }
    state[slot] = kUsed;
    if (prev == nullptr) {
      first_id_ = id;
    } else {
      prev->next = id;
    }
    max_id = std::max(max_id, id);
    for (const auto& observer : observers) (*observer)(id, ByteView(buf.data() + kSlotHeaderSize, load_prefix_));
    prev_id = id;
    prev = added;
    slot = next;
  }
  if (index_.size() != count) {
    Problem("header counts " + std::to_string(count) + " records, chain holds " +
            std::to_string(index_.size()));
    *changed = true;
  }
  if (max_id > last_id_) {
    Problem("last id " + std::to_string(last_id_) + " below record id " + std::to_string(max_id));
    last_id_ = max_id;
    *changed = true;
  }
  return LoadFreeList(&state, cut, changed);
}

bool RecordFile::LoadFreeList(std::vector<uint8_t>* state, bool keep_unseen, bool* changed) {
  std::vector<uint32_t> chain;  // from the head
  bool bad = false;
  uint32_t slot = GetLe32(header_ + kFreeHeadAt);
  while (slot != 0) {
    if (slot > slots_ || (*state)[slot] != kUnseen) {
      Problem("free list: slot " + std::to_string(slot) +
              (slot > slots_ ? " out of range" : " is used or seen before") + "; free list rebuilt");
      bad = true;
      break;
    }
    uint8_t word[4];
    if (!Get(SlotOffset(slot) + 4, word, 4)) return false;
    (*state)[slot] = kFree;
    chain.push_back(slot);
    slot = GetLe32(word);
  }
  // The list to write: slots whose "next" must be rewritten, head last.
  std::vector<uint32_t> relink;
  if (bad) {
    for (uint32_t s : chain) (*state)[s] = kUnseen;
    chain.clear();
  }
  free_.assign(chain.rbegin(), chain.rend());
  const size_t kept = free_.size();
  if (keep_unseen && !bad) {
    // Slots past a cut chain may hold records; they stay untouched so they
    // can still be recovered from the file.
    return true;
  }
  for (uint32_t s = slots_; s >= 1; --s) {
    if ((*state)[s] == kUnseen) free_.push_back(s);
  }
  if (free_.size() == kept) return true;
  if (!bad) Problem(std::to_string(free_.size() - kept) + " slots on neither list; reclaimed");
  *changed = true;
  if (read_only_) return true;
  for (size_t i = kept; i < free_.size(); ++i) WriteNext(free_[i], i == 0 ? 0 : free_[i - 1]);
  return true;
}

void RecordFile::WriteHeader() {
  PutLe32(header_ + kLastIdAt, last_id_);
  PutLe32(header_ + kFreeHeadAt, free_.empty() ? 0 : free_.back());
  PutLe32(header_ + kFirstUsedAt, first_id_ == 0 ? 0 : index_.at(first_id_).slot);
  PutLe32(header_ + kCountAt, static_cast<uint32_t>(index_.size()));
  Put(0, header_, kHeaderSize);
}

void RecordFile::WriteNext(uint32_t slot, uint32_t next) {
  uint8_t word[4];
  PutLe32(word, next);
  Put(SlotOffset(slot) + 4, word, 4);
}

void RecordFile::Grow() {
  const uint32_t first = slots_ + 1;
  const uint32_t old_head = free_.empty() ? 0 : free_.back();
  // The new slots are zeros (a hole once written), chained by their headers.
  size_ = std::max(size_, SlotOffset(first + grow_slots_));
  for (uint32_t i = 0; i < grow_slots_; ++i) {
    const uint32_t next = i + 1 < grow_slots_ ? first + i + 1 : old_head;
    if (next != 0) WriteNext(first + i, next);
  }
  slots_ += grow_slots_;
  zeroed_.resize(static_cast<size_t>(slots_) + 1, true);
  for (uint32_t i = grow_slots_; i >= 1; --i) free_.push_back(first + i - 1);
}

bool RecordFile::Get(uint64_t offset, uint8_t* buf, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  size_t got = 0;
  if (offset < disk_size_) {
    const size_t on_disk = static_cast<size_t>(std::min<uint64_t>(n, disk_size_ - offset));
    if (!file_->ReadAt(offset, buf, on_disk, &got)) return false;
  }
  std::fill(buf + got, buf + n, 0);
  auto it = held_.upper_bound(offset);
  if (it != held_.begin()) --it;
  for (; it != held_.end() && it->first < offset + n; ++it) {
    const uint64_t lo = std::max(offset, it->first);
    const uint64_t hi = std::min<uint64_t>(offset + n, it->first + it->second.size());
    if (lo < hi) std::memcpy(buf + (lo - offset), it->second.data() + (lo - it->first), hi - lo);
  }
  return true;
}

void RecordFile::Put(uint64_t offset, const uint8_t* data, size_t n) {
  if (n == 0) return;
  const uint64_t end = offset + n;
  size_ = std::max(size_, end);
  auto first = held_.upper_bound(offset);
  if (first != held_.begin() && std::prev(first)->first + std::prev(first)->second.size() > offset) --first;
  if (first != held_.end() && first->first <= offset && first->first + first->second.size() >= end) {
    std::memcpy(first->second.data() + (offset - first->first), data, n);  // inside one change
    return;
  }
  uint64_t lo = offset, hi = end;
  auto last = first;
  for (; last != held_.end() && last->first < end; ++last) {
    lo = std::min(lo, last->first);
    hi = std::max<uint64_t>(hi, last->first + last->second.size());
  }
  Bytes merged(static_cast<size_t>(hi - lo));
  for (auto it = first; it != last; ++it) {
    std::memcpy(merged.data() + (it->first - lo), it->second.data(), it->second.size());
    held_bytes_ -= it->second.size();
  }
  std::memcpy(merged.data() + (offset - lo), data, n);
  held_.erase(first, last);
  held_bytes_ += merged.size();
  held_.emplace(lo, std::move(merged));
}

bool RecordFile::WriteBack() {
  if (held_.empty()) return true;
  if (!journal_.active() && !journal_.Begin(committed_size_, slot_size_)) return false;
  Bytes old;
  for (const auto& [offset, bytes] : held_) {
    const uint64_t hi = std::min<uint64_t>(offset + bytes.size(), committed_size_);
    if (offset >= hi) continue;  // past the committed end: cut off by a roll-back
    for (const auto& [lo, up] : Uncovered(journaled_, offset, hi)) {
      old.resize(static_cast<size_t>(up - lo));
      size_t got = 0;
      if (!file_->ReadAt(lo, old.data(), old.size(), &got)) return false;
      std::fill(old.begin() + got, old.end(), 0);
      if (!journal_.Append(lo, ByteView(old))) return false;
      Cover(&journaled_, lo, up);
    }
  }
  // The journal is durable before the file is touched.
  if (!journal_.Sync()) return false;
  if (size_ > disk_size_ && !file_->Truncate(size_)) return false;
  // Changes less than kGap apart go in one write, the bytes between them
  // written again as they are (a torn rewrite of equal bytes changes
  // nothing): a growth of small slots is one write, not one per slot.
  constexpr uint64_t kGap = 1024;
  Bytes run;
  uint64_t run_at = 0;
  for (auto it = held_.begin(); it != held_.end(); ++it) {
    if (run.empty()) {
      run_at = it->first;
    } else {
      const uint64_t gap_at = run_at + run.size();
      const size_t gap = static_cast<size_t>(it->first - gap_at);
      run.resize(run.size() + gap, 0);
      size_t got = 0;
      if (gap_at < disk_size_ &&
          !file_->ReadAt(gap_at, run.data() + run.size() - gap,
                         static_cast<size_t>(std::min<uint64_t>(gap, disk_size_ - gap_at)), &got)) {
        return false;
      }
    }
    run.insert(run.end(), it->second.begin(), it->second.end());
    const auto next = std::next(it);
    if (next == held_.end() || next->first - (run_at + run.size()) >= kGap) {
      if (!file_->WriteAt(run_at, run.data(), run.size())) return false;
      run.clear();
    }
  }
  disk_size_ = std::max(disk_size_, size_);
  held_.clear();
  held_bytes_ = 0;
  written_ = true;
  return true;
}

bool RecordFile::Settle() {
  if (group_depth_ == 0) return Commit();
  return held_bytes_ <= kSpillBytes || WriteBack() || Fail();
}

bool RecordFile::Commit() {
  if (!Open()) return false;
  if (read_only_ || (held_.empty() && !written_)) return true;
  if (!WriteBack() || !file_->Sync() || !journal_.End()) return Fail();
  committed_size_ = disk_size_;
  journaled_.clear();
  written_ = false;
  return true;
}

void RecordFile::RaiseLastId(uint32_t id) {
  last_id_ = std::max(last_id_, id);
  issued_last_id_ = std::max(issued_last_id_, id);
}

uint32_t RecordFile::Insert(ByteView payload) {
  if (read_only_ || payload.size > payload_size() || !Open()) return 0;
  if (last_id_ == UINT32_MAX) return 0;
  if (free_.empty()) {
    if (slots_ > UINT32_MAX - grow_slots_) return 0;
    Grow();
  }
  const uint32_t slot = free_.back();
  free_.pop_back();
  const uint32_t id = last_id_ + 1;
  const uint32_t old_first = first_id_;
  // A slot still zero from its growth takes only the payload's bytes up to
  // its last non-zero one; a reused slot is overwritten whole.
  const size_t used = zeroed_[slot] ? UsedLength(payload) : payload.size;
  Bytes block(zeroed_[slot] ? kSlotHeaderSize + used : slot_size_, 0);
  PutLe32(block.data(), id);
  PutLe32(block.data() + 4, old_first == 0 ? 0 : index_.at(old_first).slot);
  std::copy(payload.data, payload.data + used, block.begin() + kSlotHeaderSize);
  Put(SlotOffset(slot), block.data(), block.size());
  zeroed_[slot] = false;
  last_id_ = id;
  issued_last_id_ = std::max(issued_last_id_, id);
  index_[id] = Descriptor{slot, 0, old_first};
  if (old_first != 0) index_[old_first].prev = id;
  first_id_ = id;
  WriteHeader();
  return Settle() ? id : 0;
}

bool RecordFile::Delete(uint32_t id) {
  if (read_only_ || !Open()) return false;
  auto it = index_.find(id);
  if (it == index_.end()) return false;
  const Descriptor d = it->second;
  const uint32_t next_slot = d.next == 0 ? 0 : index_.at(d.next).slot;
  // Out of the used chain (the previous slot, or the header), onto the
  // free list.
  if (d.prev != 0) {
    WriteNext(index_.at(d.prev).slot, next_slot);
    index_[d.prev].next = d.next;
  }
  if (d.next != 0) index_[d.next].prev = d.prev;
  if (first_id_ == id) first_id_ = d.next;
  index_.erase(id);
  WriteNext(d.slot, free_.empty() ? 0 : free_.back());
  free_.push_back(d.slot);
  WriteHeader();
  return Settle();
}

bool RecordFile::Read(uint32_t id, uint32_t offset, uint32_t length, uint8_t* buf, uint32_t* done) {
  if (done) *done = 0;
  if (!Open()) return false;
  auto it = index_.find(id);
  if (it == index_.end() || offset > payload_size()) return false;
  length = std::min(length, payload_size() - offset);
  if (!Get(SlotOffset(it->second.slot) + kSlotHeaderSize + offset, buf + offset, length)) return false;
  if (done) *done = length;
  return true;
}

bool RecordFile::Write(uint32_t id, uint32_t offset, uint32_t length, const uint8_t* buf,
                       uint32_t* done) {
  if (done) *done = 0;
  if (read_only_ || !Open()) return false;
  auto it = index_.find(id);
  if (it == index_.end() || offset > payload_size()) return false;
  length = std::min(length, payload_size() - offset);
  Put(SlotOffset(it->second.slot) + kSlotHeaderSize + offset, buf + offset, length);
  if (!Settle()) return false;
  if (done) *done = length;
  return true;
}

bool RecordFile::ReadAll(uint32_t id, Bytes* payload) {
  payload->assign(payload_size(), 0);
  return Read(id, 0, payload_size(), payload->data());
}

bool RecordFile::WriteAll(uint32_t id, ByteView payload) {
  if (payload.size != payload_size()) return false;
  return Write(id, 0, payload_size(), payload.data);
}

std::vector<uint32_t> RecordFile::Ids() const {
  std::vector<uint32_t> ids;
  ids.reserve(index_.size());
  for (uint32_t id = first_id_; id != 0; id = index_.at(id).next) ids.push_back(id);
  return ids;
}

}  // namespace store
}  // namespace quill
