// The "sync" command's messages (type 102).
//
// Request: 8 client version, 9 platform, 1 session key, 2 AccountDataId,
// 3 sync key, 4 reason, 6 client command count, 5 empty text, 7 client
// commands (only when there is one), 10 auto-delete span in seconds,
// 11 excluded FolderIDs (only when there is one).
// Response: 1 result; for 0 also 2 new sync key, 3 continue flag,
// 4 command count, 6 commands, 5 brief count, 7 briefs (each a whole
// getmailbrief response message). Counts must equal the entries decoded.
//
// A command is {1 type, 2 body}; the bodies by type are those of the
// RBCMD_ table below. Any other type fails the whole list.
#ifndef QUILL_COMMANDS_SYNC_MESSAGE_H_
#define QUILL_COMMANDS_SYNC_MESSAGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "commands/brief_message.h"
#include "protocol/message_heads.h"
#include "protocol/wire_message.h"

namespace quill {
namespace commands {

enum SyncCommandType : int32_t {
  kRbcmdAddMailFolder = 1,     // 1 FolderID, 2 name
  kRbcmdUpdateMailFolder = 2,  // 1 mask, 2 FolderID, &1: 3 name
  kRbcmdDelMailFolder = 3,     // 1 FolderID
  kRbcmdAddMail = 11,          // 1 ServerID, 2 flags, 3 subject, 4 sender name, 5 sender address, 6 FolderID, 7 date
  kRbcmdUpdateMail = 12,       // 1 mask, 2 ServerID, &1: 3 flags, &2/4/8: 4-6 texts, &16: 7 FolderID, &32: 8
  kRbcmdDelMail = 13,          // 1 ServerID
  kRbcmdAddContact = 21,       // 1 id, 2 text, 3 text, 4 integer, 5 text, 6 text
  kRbcmdUpdateContact = 22,    // 1 mask, 2 id, &1: 3 text, &2: 4 text, &4: 5 integer, &8: 6 text, &16: 7 text
  kRbcmdDelContact = 23,       // 1 id
  kRbcmdAddGroup = 31,         // decoded and ignored
  kRbcmdUpdateGroup = 32,      // decoded and ignored
  kRbcmdDelGroup = 33,         // decoded and ignored
};

// Why a sync runs (request tag 4).
enum SyncReason : int32_t {
  kSyncAtStartup = 1,       // the main window opened
  kSyncOnTimer = 3,         // the auto-sync timer
  kSyncAskedByService = 4,  // a brief, body or attachment answer said a sync is needed
  kSyncByUser = 5,          // the user asked for it
};

// One command of either direction; the fields a type does not carry keep
// their defaults.
struct SyncCommand {
  int32_t type = 0;          // SyncCommandType
  int32_t mask = 0;          // the change mask of the Update types
  uint32_t id = 0;           // FolderID, ServerID, contact or group id
  int32_t flags = 0;         // mail flags (bit 0: unread)
  int32_t folder_id = -1;    // AddMail, UpdateMail with mask & 16; -1 when absent
  uint32_t date = 0;         // AddMail: seconds since 1970; UpdateMail tag 8
  int32_t number = 0;        // the integer field of the contact commands
  // Texts in tag order: folder name; mail subject, sender name, sender
  // address; the four texts of a contact.
  std::vector<std::string> texts;
};

struct SyncRequest {
  protocol::RequestHead head;          // session key, uin, AccountDataId, sync key
  int32_t reason = 0;                  // why the sync runs (SyncReason)
  std::vector<SyncCommand> commands;   // the client's: UpdateMail and DelMail only
  uint32_t auto_delete_seconds = 0;    // "AUTODELETESPAN" days x 86400
  std::vector<uint32_t> excluded_folders;
};

struct SyncResponse {
  protocol::ResponseHead head;
  int32_t new_key = 0;
  int32_t more = 0;                     // non-zero: more pages follow
  std::vector<SyncCommand> commands;    // in list order
  std::vector<BriefResponse> briefs;    // embedded briefs
};

// False when a field cannot be put or a command is not one a client sends.
bool EncodeSyncRequest(const SyncRequest& request, protocol::WireMessage* message);
int DecodeSyncResponse(const protocol::WireMessage& message, SyncResponse* response);

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_SYNC_MESSAGE_H_
