// The service side of the mail commands "getmailbrief" (103) and
// "getmailbody" (104), answered from the session account's Maildir, and
// what every mailbox command shares: the accounts' mailboxes, the result
// codes, the text fields.
//
// Body texts are UTF-8 on the wire; body lengths and offsets count UTF-16
// code units, and no slice starts or ends inside a surrogate pair. A body
// version is a checksum of the body text, so it changes exactly when the
// text does; it fits the 16 bits the client keeps.
//
// Thread safety: commands run on request threads at once; each mailbox
// serialises itself.
#ifndef QUILL_GATEWAY_MAIL_COMMANDS_H_
#define QUILL_GATEWAY_MAIL_COMMANDS_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "gateway/mailbox.h"
#include "gateway/session_command.h"

namespace quill {
namespace gateway {

// Result codes of these commands beside 0.
constexpr int32_t kMailResultBadRequest = -2;
constexpr int32_t kMailResultNotFound = -5;
constexpr int32_t kMailResultVersionChanged = -7;
constexpr int32_t kMailResultMailboxUnreadable = -6;

// A brief carries at most this many UTF-16 units of the body.
constexpr size_t kBriefUnits = 1024;
// A body slice carries at most this many UTF-8 bytes.
constexpr size_t kBodySliceBytes = 18000;

// Texts are cut to these many bytes, at a UTF-8 boundary.
constexpr size_t kMaxSubjectBytes = 512;
constexpr size_t kMaxNameBytes = 128;

// The end of a slice of `text` from `start`: at most `max_units` units and
// `max_bytes` UTF-8 bytes, never splitting a surrogate pair.
size_t SliceEnd(const std::u16string& text, size_t start, size_t max_units, size_t max_bytes);
// Whether `start` falls between the two units of a surrogate pair.
bool SplitsPair(const std::u16string& text, size_t start);
// A version number of content: a checksum, positive, never 0.
int32_t ContentVersion(ByteView content);

// A text field cut to `max` bytes at a UTF-8 boundary.
bool PutText(protocol::TagCodec* c, uint32_t tag, const std::string& text, size_t max);
// A response holding only its result.
bool AnswerResult(protocol::MessageType type, int32_t result, protocol::WireMessage* response);

// The mailboxes of every account, made on first use.
class MailboxSet {
 public:
  MailboxSet(FileSystem* fs, std::string state_dir);
  Mailbox* For(const std::string& account);

 private:
  FileSystem* const fs_;
  const std::string state_dir_;
  std::mutex mu_;
  std::map<std::string, std::unique_ptr<Mailbox>> boxes_;  // guarded by mu_
};

class BriefCommand : public SessionCommand {
 public:
  explicit BriefCommand(MailboxSet* boxes) : boxes_(boxes) {}
  protocol::MessageType type() const override { return protocol::MessageType::GetMailBrief; }
  bool Answer(const GatewaySession& session, const protocol::WireMessage& request,
              protocol::WireMessage* response) override;

 private:
  MailboxSet* const boxes_;
};

class BodyCommand : public SessionCommand {
 public:
  explicit BodyCommand(MailboxSet* boxes) : boxes_(boxes) {}
  protocol::MessageType type() const override { return protocol::MessageType::GetMailBody; }
  bool Answer(const GatewaySession& session, const protocol::WireMessage& request,
              protocol::WireMessage* response) override;

 private:
  MailboxSet* const boxes_;
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_MAIL_COMMANDS_H_
