// The "getmailbrief" command's messages (type 103): the full head of one
// mail and the beginning of its body.
//
// Request: 1 session key, 2 ServerID, 3 AccountDataId, 4 sync key,
// 5 client version, 6 platform.
// Response: 1 result; for 0 every further tag is required: 2 sync-needed,
// 3 ServerID, 4 body length (UTF-16 units), 5 sender {1 address, 2 name},
// 6/7/8 To total, entries and list, 9/10/11 the same for Cc, 12 kept,
// 13 subject, 14 kept (64-bit), 15/16/17 attachments total, entries and
// list {1 name, 2 size, 3 kind}, 18 brief text, 19 body version. A list
// whose entries differ from its entry count fails the decode; a text over
// its capacity is cut at a character boundary (a sync page carrying the
// brief must not fail for ever over one long subject).
#ifndef QUILL_COMMANDS_BRIEF_MESSAGE_H_
#define QUILL_COMMANDS_BRIEF_MESSAGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/message_heads.h"
#include "protocol/wire_message.h"

namespace quill {
namespace commands {

constexpr size_t kMaxBriefAddressBytes = 128;
constexpr size_t kMaxBriefSubjectBytes = 512;
constexpr size_t kMaxAttachmentNameBytes = 128;

struct BriefRequest {
  protocol::RequestHead head;  // session key, uin, AccountDataId, sync key
  uint32_t server_id = 0;
};

struct BriefAddress {
  std::string address;  // at most 128 bytes
  std::string name;     // at most 128 bytes
};

struct BriefAttachment {
  std::string name;  // at most 128 bytes
  int32_t size = 0;  // bytes
  int32_t kind = 0;
};

struct BriefResponse {
  protocol::ResponseHead head;
  int32_t sync_needed = 0;        // non-zero: start a sync with reason 4
  uint32_t server_id = 0;
  int32_t body_length = 0;        // on the server, UTF-16 units
  BriefAddress sender;
  int32_t to_total = 0;           // To recipients of the mail (the list may hold fewer)
  std::vector<BriefAddress> to;
  int32_t cc_total = 0;
  std::vector<BriefAddress> cc;
  int32_t kept12 = 0;             // read and kept, not used
  std::string subject;            // at most 512 bytes
  int64_t kept14 = 0;             // read and kept, not used
  int32_t attachment_total = 0;
  std::vector<BriefAttachment> attachments;
  std::string brief_text;         // UTF-8, the beginning of the body
  int32_t body_version = 0;
};

bool EncodeBriefRequest(const BriefRequest& request, protocol::WireMessage* message);

// Decodes a response message of type 103.
int DecodeBriefResponse(const protocol::WireMessage& message, BriefResponse* response);

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_BRIEF_MESSAGE_H_
