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

}  // namespace

RecordFile::RecordFile(FileSystem* fs, uint32_t slot_size, bool read_only)
    : fs_(fs), slot_size_(slot_size), grow_slots_(GrowSlotsFor(slot_size)), read_only_(read_only) {}

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
  index_.clear();
  free_.clear();
  first_id_ = 0;
  if (!OpenFile()) {
    file_.reset();
    index_.clear();
    free_.clear();
    first_id_ = 0;
    return false;
  }
  return true;
}

bool RecordFile::OpenFile() {
  file_ = fs_->Open(path_, read_only_ ? FileSystem::OpenMode::kRead : FileSystem::OpenMode::kCreate);
  if (!file_) return false;
  uint64_t size = 0;
  if (!file_->Size(&size)) return false;
  if (size == 0) {
    report_.created = true;
    return read_only_ ? true : StartOver(false);
  }
  bool valid = false;
  if (size >= kHeaderSize) {
    size_t got = 0;
    if (!file_->ReadAt(0, header_, kHeaderSize, &got) || got != kHeaderSize) return false;
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
  ragged_end_ = SlotOffset(slots_ + 1) != size;
  zeroed_.assign(static_cast<size_t>(slots_) + 1, false);  // what a free slot holds is unknown
  report_.slots = slots_;
  last_id_ = GetLe32(header_ + kLastIdAt);
  bool changed = false;
  if (!LoadChain(&changed)) return false;
  if (changed && !read_only_) {
    if (!WriteHeader() || !file_->Sync()) return false;
    report_.repaired = true;
  }
  report_.records = static_cast<uint32_t>(index_.size());
  report_.free_slots = static_cast<uint32_t>(free_.size());
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
  ragged_end_ = false;
  zeroed_.assign(1, false);
  last_id_ = 0;
  return file_->Truncate(0) && file_->WriteAt(0, header_, kHeaderSize) && file_->Truncate(kHeaderSize) &&
         file_->Sync();
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
      size_t got = 0;
      if (!file_->ReadAt(SlotOffset(slot), buf.data(), buf.size(), &got)) return false;
      if (got != buf.size()) return false;  // the slot was inside the file a moment ago
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
        if (!read_only_ && !WriteNext(prev->slot, 0)) return false;
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
    size_t got = 0;
    if (!file_->ReadAt(SlotOffset(slot) + 4, word, 4, &got) || got != 4) return false;
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
  for (size_t i = kept; i < free_.size(); ++i) {
    if (!WriteNext(free_[i], i == 0 ? 0 : free_[i - 1])) return false;
  }
  return true;
}

bool RecordFile::WriteHeader() {
  PutLe32(header_ + kLastIdAt, last_id_);
  PutLe32(header_ + kFreeHeadAt, free_.empty() ? 0 : free_.back());
  PutLe32(header_ + kFirstUsedAt, first_id_ == 0 ? 0 : index_.at(first_id_).slot);
  PutLe32(header_ + kCountAt, static_cast<uint32_t>(index_.size()));
  return file_->WriteAt(0, header_, kHeaderSize);
}

bool RecordFile::WriteSlotHeader(uint32_t slot, uint32_t id, uint32_t next) {
  uint8_t h[kSlotHeaderSize];
  PutLe32(h, id);
  PutLe32(h + 4, next);
  return file_->WriteAt(SlotOffset(slot), h, kSlotHeaderSize);
}

bool RecordFile::WriteNext(uint32_t slot, uint32_t next) {
  uint8_t word[4];
  PutLe32(word, next);
  return file_->WriteAt(SlotOffset(slot) + 4, word, 4);
}

bool RecordFile::Grow() {
  if (slots_ > UINT32_MAX - grow_slots_) return false;
  const uint32_t first = slots_ + 1;
  const uint32_t old_head = free_.empty() ? 0 : free_.back();
  // The new slots are zeros (a hole, not written), chained by their
  // headers. The file header is not rewritten here: until the insert's
  // header write the new slots are on neither list, which opening reclaims.
  // A partial slot that a crash left at the end is cut off first; the last
  // byte of the last new slot gives the file its size.
  if (ragged_end_ && !file_->Truncate(SlotOffset(first))) return false;
  ragged_end_ = false;
  const uint8_t zero = 0;
  if (!file_->WriteAt(SlotOffset(first + grow_slots_) - 1, &zero, 1)) return false;
  for (uint32_t i = 0; i < grow_slots_; ++i) {
    const uint32_t next = i + 1 < grow_slots_ ? first + i + 1 : old_head;
    if (next == 0) continue;
    uint8_t slot_header[kSlotHeaderSize] = {};
    PutLe32(slot_header + 4, next);
    if (!file_->WriteAt(SlotOffset(first + i), slot_header, sizeof slot_header)) return false;
  }
  slots_ += grow_slots_;
  zeroed_.resize(static_cast<size_t>(slots_) + 1, true);
  for (uint32_t i = grow_slots_; i >= 1; --i) free_.push_back(first + i - 1);
  return true;
}

uint32_t RecordFile::Insert(ByteView payload) {
  if (read_only_ || payload.size > payload_size() || !Open()) return 0;
  if (last_id_ == UINT32_MAX) return 0;
  if (free_.empty() && !Grow()) return 0;
  // 1. Take the slot: the free head moves past it on disk first.
  const uint32_t slot = free_.back();
  free_.pop_back();
  if (!WriteHeader()) return 0;  // the slot is leaked, never shared
  // 2. The record, linked to the current first record.
  const uint32_t id = last_id_ + 1;
  const uint32_t old_first = first_id_;
  // A slot still zero from its growth takes only the payload's bytes up to
  // its last non-zero one; a reused slot is overwritten whole.
  const size_t used = zeroed_[slot] ? UsedLength(payload) : payload.size;
  Bytes block(zeroed_[slot] ? kSlotHeaderSize + used : slot_size_, 0);
  PutLe32(block.data(), id);
  PutLe32(block.data() + 4, old_first == 0 ? 0 : index_.at(old_first).slot);
  std::copy(payload.data, payload.data + used, block.begin() + kSlotHeaderSize);
  if (!file_->WriteAt(SlotOffset(slot), block.data(), block.size())) return 0;
  zeroed_[slot] = false;
  // 3. Link it as the first used slot.
  last_id_ = id;
  index_[id] = Descriptor{slot, 0, old_first};
  if (old_first != 0) index_[old_first].prev = id;
  first_id_ = id;
  if (!WriteHeader()) {
    index_.erase(id);
    if (old_first != 0) index_[old_first].prev = 0;
    first_id_ = old_first;
    return 0;
  }
  return id;
}

bool RecordFile::Delete(uint32_t id) {
  if (read_only_ || !Open()) return false;
  auto it = index_.find(id);
  if (it == index_.end()) return false;
  const Descriptor d = it->second;
  const uint32_t next_slot = d.next == 0 ? 0 : index_.at(d.next).slot;
  // 1. Unlink from the used chain.
  auto unlink_in_memory = [&] {
    if (d.prev != 0) index_[d.prev].next = d.next;
    if (d.next != 0) index_[d.next].prev = d.prev;
    if (first_id_ == id) first_id_ = d.next;
    index_.erase(id);
  };
  if (d.prev != 0) {
    if (!WriteNext(index_.at(d.prev).slot, next_slot)) return false;
    unlink_in_memory();
  } else {
    unlink_in_memory();
    if (!WriteHeader()) {
      // Put it back; the next header write states the chain again.
      index_[id] = d;
      if (d.next != 0) index_[d.next].prev = id;
      first_id_ = id;
      return false;
    }
  }
  // 2. The slot joins the free list (a failure leaks it).
  if (!WriteNext(d.slot, free_.empty() ? 0 : free_.back())) return false;
  free_.push_back(d.slot);
  if (!WriteHeader()) {
    free_.pop_back();
    return false;
  }
  return true;
}

bool RecordFile::Read(uint32_t id, uint32_t offset, uint32_t length, uint8_t* buf, uint32_t* done) {
  if (done) *done = 0;
  if (!Open()) return false;
  auto it = index_.find(id);
  if (it == index_.end() || offset > payload_size()) return false;
  length = std::min(length, payload_size() - offset);
  size_t got = 0;
  if (!file_->ReadAt(SlotOffset(it->second.slot) + kSlotHeaderSize + offset, buf + offset, length,
                     &got) ||
      got != length) {
    return false;
  }
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
  if (!file_->WriteAt(SlotOffset(it->second.slot) + kSlotHeaderSize + offset, buf + offset, length)) {
    return false;
  }
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

bool RecordFile::Flush() {
  if (!Open()) return false;
  return read_only_ || file_->Sync();
}

std::vector<uint32_t> RecordFile::Ids() const {
  std::vector<uint32_t> ids;
  ids.reserve(index_.size());
  for (uint32_t id = first_id_; id != 0; id = index_.at(id).next) ids.push_back(id);
  return ids;
}

}  // namespace store
}  // namespace quill
