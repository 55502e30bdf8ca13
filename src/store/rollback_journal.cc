#include "store/rollback_journal.h"

#include <zlib.h>

#include <cstring>

#include "platform/crypto.h"
#include "store/le_bytes.h"

namespace quill {
namespace store {
namespace {

constexpr uint8_t kMagic[4] = {'Q', 'J', 'N', 'L'};
constexpr uint32_t kVersion = 1;
constexpr size_t kRecordHead = 16;  // offset, length, stored
constexpr size_t kCrcSize = 4;

uint32_t Crc(uint32_t crc, const uint8_t* data, size_t n) {
  return static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(n)));
}

uint32_t RecordCrc(uint32_t salt, const uint8_t* head, const uint8_t* stored, size_t n) {
  uint8_t salt_bytes[4];
  PutLe32(salt_bytes, salt);
  uint32_t crc = Crc(0, salt_bytes, 4);
  crc = Crc(crc, head, kRecordHead);
  return Crc(crc, stored, n);
}

}  // namespace

bool RollbackJournal::Open(const std::string& path, bool read_only) {
  Close();
  if (read_only) {
    if (!fs_->Exists(path)) return true;
    file_ = fs_->Open(path, FileSystem::OpenMode::kRead);
    return file_ != nullptr;
  }
  const bool existed = fs_->Exists(path);
  file_ = fs_->Open(path, FileSystem::OpenMode::kCreate);
  if (!file_) return false;
  if (existed) return true;
  const std::string dir = DirName(path);
  if (fs_->SyncDir(dir.empty() ? "." : dir)) return true;
  file_.reset();
  return false;
}

void RollbackJournal::Close() {
  file_.reset();
  active_ = false;
  buffer_.clear();
}

bool RollbackJournal::ReadHot(uint32_t slot_size, uint64_t* committed_size,
                              std::vector<Record>* records, bool* error) {
  *error = false;
  records->clear();
  uint64_t size = 0;
  if (!file_) return false;
  if (!file_->Size(&size)) {
    *error = true;
    return false;
  }
  if (size < kHeaderSize || size > SIZE_MAX / 2) return false;
  Bytes all(static_cast<size_t>(size));
  size_t got = 0;
  if (!file_->ReadAt(0, all.data(), all.size(), &got)) {
    *error = true;
    return false;
  }
  all.resize(got);
  const uint8_t* h = all.data();
  if (all.size() < kHeaderSize || std::memcmp(h, kMagic, 4) != 0 || GetLe32(h + 4) != kVersion ||
      GetLe32(h + 20) != slot_size || GetLe32(h + 28) != Crc(0, h, 28)) {
    return false;
  }
  const uint32_t salt = GetLe32(h + 8);
  *committed_size = GetLe64(h + 12);
  size_t pos = kHeaderSize;
  while (all.size() - pos >= kRecordHead + kCrcSize) {
    const uint8_t* r = all.data() + pos;
    const uint64_t offset = GetLe64(r);
    const uint32_t length = GetLe32(r + 8);
    const uint32_t stored = GetLe32(r + 12);
    if (stored > length || offset > *committed_size || length > *committed_size - offset ||
        stored > all.size() - pos - kRecordHead - kCrcSize) {
      break;
    }
    const uint8_t* bytes = r + kRecordHead;
    if (GetLe32(bytes + stored) != RecordCrc(salt, r, bytes, stored)) break;
    records->push_back(Record{offset, length, Bytes(bytes, bytes + stored)});
    pos += kRecordHead + stored + kCrcSize;
  }
  return true;
}

bool RollbackJournal::Begin(uint64_t committed_size, uint32_t slot_size) {
  if (!file_ || active_) return false;
  crypto::RandomBytes(reinterpret_cast<uint8_t*>(&salt_), sizeof salt_);
  uint8_t h[kHeaderSize] = {};
  std::memcpy(h, kMagic, 4);
  PutLe32(h + 4, kVersion);
  PutLe32(h + 8, salt_);
  PutLe64(h + 12, committed_size);
  PutLe32(h + 20, slot_size);
  PutLe32(h + 28, Crc(0, h, 28));
  buffer_.assign(h, h + kHeaderSize);
  buffer_at_ = 0;
  active_ = true;
  return true;
}

bool RollbackJournal::Append(uint64_t offset, ByteView old_bytes) {
  if (!active_ || old_bytes.size > UINT32_MAX) return false;
  size_t stored = old_bytes.size;
  while (stored > 0 && old_bytes.data[stored - 1] == 0) --stored;
  uint8_t head[kRecordHead];
  PutLe64(head, offset);
  PutLe32(head + 8, static_cast<uint32_t>(old_bytes.size));
  PutLe32(head + 12, static_cast<uint32_t>(stored));
  uint8_t crc[kCrcSize];
  PutLe32(crc, RecordCrc(salt_, head, old_bytes.data, stored));
  buffer_.insert(buffer_.end(), head, head + kRecordHead);
  buffer_.insert(buffer_.end(), old_bytes.data, old_bytes.data + stored);
  buffer_.insert(buffer_.end(), crc, crc + kCrcSize);
  return true;
}

bool RollbackJournal::Sync() {
  if (buffer_.empty()) return true;
  if (!file_ || !file_->WriteAt(buffer_at_, buffer_.data(), buffer_.size()) || !file_->Sync()) {
    return false;
  }
  buffer_at_ += buffer_.size();
  buffer_.clear();
  return true;
}

bool RollbackJournal::End() {
  if (!file_) return false;
  buffer_.clear();
  const uint8_t zeros[kHeaderSize] = {};
  uint64_t size = 0;
  if (!file_->WriteAt(0, zeros, sizeof zeros) || !file_->Size(&size)) return false;
  if (size > kKeepBytes && !file_->Truncate(0)) return false;
  if (!file_->Sync()) return false;
  active_ = false;
  return true;
}

}  // namespace store
}  // namespace quill
