// The service side of "sendlongmail" (111): the delivery conversation.
//
// A request without a key describes a mail (sender, body length, for each
// attached file its protocol name, size and MD5); the answer gives the
// delivery a key and asks for the first piece it lacks. Later requests
// carry the key and the pieces asked for; every answer asks for the next
// piece (the body in slices, each attachment in slices, then the header),
// or says delivered with the ServerID of the copy filed in the sender's
// ".Sent" folder. A request with the key and no piece asks where the
// delivery stands: it is answered the same way, so a client that lost an
// answer resumes from what is held. A delivered key is answered delivered
// again, with the same ServerID, and never delivered twice.
//
// A mail without attachments that comes whole in its first request (a
// small mail) is delivered at once. Since such a request carries no key,
// one whose answer was lost may come again: the same content from the same
// account within kSmallMailRepeatSeconds is answered with the first
// delivery's result instead of being delivered again.
//
// When the last piece is in, every attachment's MD5 is checked against its
// description (a file that changed meanwhile: result item 1 with -853; the
// attachment is asked for again from 0), the message is built (MimeBuilder)
// and delivered: one copy into the Maildir "new" of each recipient that is
// an account of this gateway, once each, and one SMTP transaction through
// the relay for the others (without a relay they fail the delivery,
// before anything is delivered).
//
// Pieces are held in the DeliveryBook; the live deliveries' counts are
// kept in memory and saved (after the spool is synced) about once a
// second, when a key is new and before a mail goes. A piece that comes
// after a gap (the gateway lost the pieces before it) is not taken; the
// answer asks for what is missing.
//
// Thread safety: requests are served one at a time (one lock).
#ifndef QUILL_GATEWAY_LONG_MAIL_COMMAND_H_
#define QUILL_GATEWAY_LONG_MAIL_COMMAND_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "gateway/account_book.h"
#include "gateway/delivery_book.h"
#include "gateway/mail_commands.h"
#include "gateway/mail_transport.h"
#include "gateway/session_command.h"

namespace quill {
namespace gateway {

// A piece asked for is at most this long.
constexpr uint32_t kLongMailPieceBytes = 20480;
// How long a small mail's content is remembered against a repeat.
constexpr int64_t kSmallMailRepeatSeconds = 24 * 3600;
// Described sizes the gateway accepts.
constexpr uint64_t kMaxLongMailBodyBytes = 32u << 20;
constexpr uint64_t kMaxLongMailFileBytes = 32u << 20;
constexpr size_t kMaxLongMailFiles = 64;

// Result item codes this command gives.
constexpr int32_t kLongMailSizeChanged = -853;
constexpr int32_t kLongMailUnknownKey = -5;
constexpr int32_t kLongMailBadPiece = -2;
constexpr int32_t kLongMailNoRelay = -20;
constexpr int32_t kLongMailRelayFailed = -21;
constexpr int32_t kLongMailCannotDeliver = -6;
// How often the counts of a delivery in progress are made durable.
constexpr std::chrono::milliseconds kSaveInterval{1000};

class LongMailCommand : public SessionCommand {
 public:
  // Everything must outlive the command; accounts and relay are read only
  // while requests are served.
  LongMailCommand(FileSystem* fs, std::string state_dir, const AccountBook* accounts,
                  const SmtpRelay* relay, MailboxSet* boxes);

  protocol::MessageType type() const override { return protocol::MessageType::SendLongMail; }
  bool Answer(const GatewaySession& session, const protocol::WireMessage& request,
              protocol::WireMessage* response) override;
  // A refusal is result item 1 with the code.
  bool Refuse(int32_t code, protocol::WireMessage* response) override;

 private:
  struct Request;
  bool Decide(const GatewaySession& session, const Request& r, protocol::WireMessage* response);
  // Applies the request's pieces; false with the code and text of a refusal.
  bool Apply(const Request& r, Delivery* d, int32_t* code, std::string* text);
  // Delivers a complete mail; false with the answer already made.
  bool Deliver(const GatewaySession& session, Delivery* d, protocol::WireMessage* response);
  bool AnswerNext(const Delivery& d, protocol::WireMessage* response);
  bool AnswerDelivered(const Delivery& d, protocol::WireMessage* response);

  FileSystem* const fs_;
  const std::string state_dir_;
  const AccountBook* const accounts_;
  const SmtpRelay* const relay_;
  MailboxSet* const boxes_;
  // A delivery in progress as it stands, ahead of what the book holds.
  struct Live {
    Delivery delivery;
    std::chrono::steady_clock::time_point saved;  // its last save
  };

  std::mutex mu_;
  DeliveryBook book_;                    // guarded by mu_
  std::map<std::string, Live> live_;     // guarded by mu_; by key
};

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_LONG_MAIL_COMMAND_H_
