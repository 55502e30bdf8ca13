// The ids a mailbox hands out, and their durable high-water mark.
//
// A Mailbox numbers mails (ServerIDs), subfolders (FolderIDs from
// kFirstSubfolderId), contacts and journal entries (sync keys), each from 1
// upwards, and never hands one number to two objects: a client keeps a
// mail's body under its ServerID, so a reused ServerID would show one
// mail's subject over another's body.
//
// "mailbox.db" remembers the next number of each kind, but it can be lost
// or damaged. "mailbox.ids" beside it keeps the same numbers as a mark that
// is written, and synced, before the database commits any number at or
// above the old mark; a mailbox that must start its database over
// continues above the mark. Four lines of text:
//
//   server_id N
//   folder_id N
//   contact_id N
//   key N
//
// Thread safety: none; the Mailbox serialises its calls.
#ifndef QUILL_GATEWAY_MAILBOX_IDS_H_
#define QUILL_GATEWAY_MAILBOX_IDS_H_

#include <cstdint>
#include <string>

#include "platform/file_system.h"

namespace quill {
namespace gateway {

// Ids of further ".Folder" subfolders start here.
constexpr uint32_t kFirstSubfolderId = 100;

constexpr char kMailboxIdsFileName[] = "mailbox.ids";

// The next number of each kind: every number below it may have been
// handed out.
struct MailboxIds {
  uint32_t server_id = 1;
  uint32_t folder_id = kFirstSubfolderId;
  uint32_t contact_id = 1;
  uint32_t key = 1;  // the next journal entry's sequence number

  // Every number of `other` is at most this one's.
  bool Covers(const MailboxIds& other) const;
  // The larger number of each kind.
  static MailboxIds Max(const MailboxIds& a, const MailboxIds& b);
  bool operator==(const MailboxIds& other) const;
};

enum class IdMarkRead {
  kRead,     // *ids holds the mark
  kMissing,  // no file: nothing was handed out yet, or the mark is lost too
  kDamaged,  // a file that does not hold four numbers; *ids untouched
};

IdMarkRead ReadIdMark(FileSystem* fs, const std::string& path, MailboxIds* ids);

// Replaces the mark atomically and durably (temp file, sync, rename,
// directory sync). False when any step fails.
bool WriteIdMark(FileSystem* fs, const std::string& path, const MailboxIds& ids);

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_MAILBOX_IDS_H_
