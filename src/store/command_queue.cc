#include "store/command_queue.h"

#include <algorithm>
#include <cerrno>

#include "platform/last_error.h"
#include "store/le_bytes.h"

namespace quill {
namespace store {
namespace {

bool IsServiceId(uint32_t server_id) { return server_id != 0 && server_id != 0xFFFFFFFF; }

// The file's whole records; a missing file is empty. The file is cut to
// them when it ends in part of a record.
bool ReadRecords(FileSystem* fs, const std::string& path, Bytes* out) {
  out->clear();
  if (!fs->Exists(path)) return true;
  if (!fs->ReadFile(path, out)) return false;
  const size_t whole = out->size() - out->size() % CommandQueue::kRecordSize;
  if (whole != out->size()) {
    out->resize(whole);
    std::unique_ptr<File> f = fs->Open(path, FileSystem::OpenMode::kReadWrite);
    if (!f || !f->Truncate(whole) || !f->Sync()) return false;
  }
  return true;
}

}  // namespace

CommandQueue::CommandQueue(FileSystem* fs, const std::string& account_dir)
    : fs_(fs), cmd_path_(account_dir + "CmdFile"), copy_path_(account_dir + "CmdFileCopy") {}

Bytes CommandQueue::Encode(const std::vector<Command>& commands) {
  Bytes out(commands.size() * kRecordSize);
  for (size_t i = 0; i < commands.size(); ++i) {
    PutLe32(&out[i * kRecordSize], commands[i].type);
    PutLe32(&out[i * kRecordSize + 4], commands[i].server_id);
    PutLe32(&out[i * kRecordSize + 8], commands[i].value);
  }
  return out;
}

std::vector<Command> CommandQueue::Decode(ByteView bytes) {
  std::vector<Command> out;
  for (size_t at = 0; at + kRecordSize <= bytes.size; at += kRecordSize) {
    const uint8_t* p = bytes.data + at;
    out.push_back(Command{GetLe32(p), GetLe32(p + 4), GetLe32(p + 8)});
  }
  return out;
}

bool CommandQueue::Load() {
  if (loaded_) return true;
  Bytes cmd, copy;
  if (!ReadRecords(fs_, cmd_path_, &cmd) || !ReadRecords(fs_, copy_path_, &copy)) return false;
  const bool merged_before =
      !copy.empty() && cmd.size() >= copy.size() && std::equal(copy.begin(), copy.end(), cmd.end() - copy.size());
  if (!merged_before) cmd.insert(cmd.end(), copy.begin(), copy.end());
  pending_ = Decode(cmd);
  loaded_ = true;
  dirty_ = !copy.empty();
  return !dirty_ || Persist();
}

const std::vector<Command>& CommandQueue::pending() {
  Load();
  return pending_;
}

bool CommandQueue::Persist() {
  dirty_ = true;
  const Bytes cmd = Encode(in_flight_ ? batch_ : pending_);
  const Bytes copy = Encode(in_flight_ ? pending_ : std::vector<Command>());
  // "CmdFile" first: a crash before the copy is rewritten leaves the
  // copy's records at its end, which loading recognises.
  if (!fs_->ReplaceAtomically(cmd_path_, ByteView(cmd))) return false;
  if (!fs_->ReplaceAtomically(copy_path_, ByteView(copy))) return false;
  dirty_ = false;
  return true;
}

bool CommandQueue::Append(const std::string& path, const Command& c) {
  std::unique_ptr<File> f = fs_->Open(path, FileSystem::OpenMode::kCreate);
  uint64_t size = 0;
  if (!f || !f->Size(&size)) return false;
  const Bytes bytes = Encode({c});
  return f->WriteAt(size, bytes.data(), bytes.size()) && f->Sync();
}

bool CommandQueue::Queue(Command c) {
  if (!IsServiceId(c.server_id) || !Load()) return false;
  pending_.push_back(c);
  if (!dirty_ && Append(in_flight_ ? copy_path_ : cmd_path_, c)) return true;
  if (Persist()) return true;
  pending_.pop_back();
  dirty_ = true;
  return false;
}

bool CommandQueue::QueueDelete(uint32_t server_id) { return Queue(Command{kCommandDelete, server_id, 0}); }

bool CommandQueue::QueueSetFlags(uint32_t server_id, uint32_t flags) {
  return Queue(Command{kCommandSetFlags, server_id, flags});
}

bool CommandQueue::TakeBatch(std::vector<Command>* batch) {
  if (in_flight_ || !Load()) return false;
  if (dirty_ && !Persist()) return false;
  batch_.swap(pending_);
  pending_.clear();
  in_flight_ = true;
  *batch = batch_;
  return true;
}

bool CommandQueue::FinishBatch(bool success) {
  if (!in_flight_) return false;
  if (!success) pending_.insert(pending_.begin(), batch_.begin(), batch_.end());
  batch_.clear();
  in_flight_ = false;
  Persist();
  return true;
}

}  // namespace store
}  // namespace quill
