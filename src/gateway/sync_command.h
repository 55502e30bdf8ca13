// The service side of "sync" (type 102): applies the client's commands to
// the session account's Maildir, then answers a page of the mailbox's
// journal after the client's key.
//
// A page holds the server commands of the journal entries after the key,
// in order, until its list reaches kSyncPageBytes; the new key is the last
// entry sent (or passed over), or the newest key when the page holds them
// all, and the continue flag is set when entries are left. A key the
// mailbox does not know (from before its database was lost, or never
// issued) continues from the very start, deletes included. A client at key
// 0 holds nothing of the mailbox, so it is sent the adds alone.
//
// A page is built from the journal a few entries at a time, so it costs
// the same at the start of a long journal as at its end.
//
// Thread safety: like every SessionCommand; the mailbox serialises itself.
#ifndef QUILL_GATEWAY_SYNC_COMMAND_H_
#define QUILL_GATEWAY_SYNC_COMMAND_H_

#include "gateway/mail_commands.h"
#include "gateway/session_command.h"

namespace quill {
namespace gateway {

// A sync page's list of commands stops growing at this many encoded bytes,
// so the sealed response stays within 20480.
constexpr int32_t kSyncPageBytes = 18000;

class SyncCommand : public SessionCommand {
 public:
  explicit SyncCommand(MailboxSet* boxes) : boxes_(boxes) {}
  protocol::MessageType type() const override { return protocol::MessageType::Sync; }
  bool Answer(const GatewaySession& session, const protocol::WireMessage& request,
              protocol::WireMessage* response) override;

 private:
  MailboxSet* const boxes_;
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_SYNC_COMMAND_H_
