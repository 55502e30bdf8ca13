// Changes still to be told to the service, in "CmdFile" and "CmdFileCopy":
// plain sequences of 12-byte records (type, ServerID, value; little-endian).
//
// File invariant: with no batch in flight "CmdFile" holds the pending
// commands and "CmdFileCopy" is empty; while a batch is in flight
// "CmdFile" holds the batch and "CmdFileCopy" the commands queued since.
// Loading keeps command order: "CmdFile" first, then "CmdFileCopy". A crash
// between rewriting "CmdFile" and emptying "CmdFileCopy" leaves the copy's
// records at the end of "CmdFile"; loading recognises that and does not
// take them twice (an identical run of commands right after itself changes
// nothing on the service). Files are cut to whole records before reading.
//
// Thread safety: none; UI thread only.
#ifndef QUILL_STORE_COMMAND_QUEUE_H_
#define QUILL_STORE_COMMAND_QUEUE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/file_system.h"

namespace quill {
namespace store {

enum CommandType : uint32_t { kCommandDelete = 1, kCommandSetFlags = 2 };

struct Command {
  uint32_t type;       // CommandType
  uint32_t server_id;  // the mail on the service
  uint32_t value;      // new flags for kCommandSetFlags, else 0
  bool operator==(const Command& o) const {
    return type == o.type && server_id == o.server_id && value == o.value;
  }
};

class CommandQueue {
 public:
  static constexpr size_t kRecordSize = 12;

  // fs must outlive this object; account_dir ends in '/'.
  CommandQueue(FileSystem* fs, const std::string& account_dir);

  // Refused for ServerIDs 0 and 0xFFFFFFFF (mails the service does not
  // know) and when the command could not be stored.
  bool QueueDelete(uint32_t server_id);
  bool QueueSetFlags(uint32_t server_id, uint32_t flags);
  // Hands the pending commands to a sync; false while a batch is in flight
  // or when the files cannot be loaded.
  bool TakeBatch(std::vector<Command>* batch);
  // Ends the batch: dropped on success, put back in front of the pending
  // commands on failure. False when no batch is in flight.
  bool FinishBatch(bool success);

  // Loads when not loaded yet; the pending commands (empty when unreadable).
  const std::vector<Command>& pending();
  bool in_flight() const { return in_flight_; }

  static Bytes Encode(const std::vector<Command>& commands);
  static std::vector<Command> Decode(ByteView bytes);

 private:
  bool Load();
  bool Queue(Command c);
  bool Append(const std::string& path, const Command& c);
  // Writes both files from memory (after a failure or to end a batch).
  bool Persist();

  FileSystem* const fs_;
  const std::string cmd_path_;   // "CmdFile"
  const std::string copy_path_;  // "CmdFileCopy"
  bool loaded_ = false;
  bool in_flight_ = false;
  bool dirty_ = false;  // the files may differ from memory: persist before appending
  std::vector<Command> pending_;
  std::vector<Command> batch_;  // in flight
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_COMMAND_QUEUE_H_
