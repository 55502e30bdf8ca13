// The "sendlongmail" command's messages (type 111): one request of the
// delivery conversation and its answer. Every list is a typed list
// (protocol/typed_list.h).
//
// Request: 1 session key, 2 sync key, 3 AccountDataId, 4 client version,
// 5 platform, 6 the delivery's key (empty when there is none), 7 the items
// (written when there is one; the closing item ends every request).
//   item 1, description: 1 compose mode, 2 ServerID of the source mail,
//     3 sender name, 4 sender address, 5 entries (when not empty):
//     entry 3 {1 body length in UTF-8 bytes}, entry 4 {1 protocol name,
//     2 size, 3 MD5 as 32 lower-case hexadecimal digits}
//   item 2, upload: 1 parts (when not empty): part 1 {1 To, 2 Cc, 3 Bcc,
//     each when not empty, elements of type 1 {1 name, 2 address}},
//     part 2 {1 subject}, part 3 {1 offset, 2 length, 3 bytes},
//     part 4 {1 protocol name, 2 offset, 3 length, 4 bytes}
//   item 3, closing: no content
// Response: 1 result; for 0 also 2 the key (may be absent), 3 result items,
// 4 instructions (each may be absent).
//   result 1 {1 code, 2 text, 3 further entries}: a non-zero code fails
//   result 2 {1 entries, each {1 code, 2 text} or {1 name, 2 code, 3 text}}
//   result 3 {1 status, 2 text, 3 first value, 4 second value, 5 percent}:
//     status 0 delivered, -10 continue with the first instruction
//   instruction 1 or 2: the header; 3 {1 offset, 2 length}: a body slice;
//   4 {1 offset, 2 length, 3 protocol name}: an attachment slice
//
// Decoding bounds every text: the key, names and error texts have fixed
// capacities; a longer key or name fails the decode, a longer error text is
// cut.
#ifndef QUILL_COMMANDS_LONG_MAIL_MESSAGE_H_
#define QUILL_COMMANDS_LONG_MAIL_MESSAGE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "protocol/message_heads.h"
#include "protocol/wire_message.h"

namespace quill {
namespace commands {

inline constexpr char kLongMailPath[] = "/cgi-bin/rb-bin/sendlongmail";

enum LongMailItemType : int32_t { kItemDescription = 1, kItemUpload = 2, kItemClosing = 3 };
enum LongMailEntryType : int32_t { kEntryBodyLength = 3, kEntryFile = 4 };
enum LongMailPartType : int32_t {
  kPartRecipients = 1,
  kPartSubject = 2,
  kPartBody = 3,
  kPartAttachment = 4,
};
enum LongMailResultType : int32_t { kResultError = 1, kResultEntries = 2, kResultStatus = 3 };
enum LongMailInstructionType : int32_t {
  kAskHeader = 1,
  kAskHeaderToo = 2,  // the same as 1
  kAskBody = 3,
  kAskAttachment = 4,
};
constexpr int32_t kStatusDelivered = 0;
constexpr int32_t kStatusContinue = -10;

// Capacities of the texts of these messages, in bytes.
constexpr size_t kMaxLongMailKeyBytes = 128;
constexpr size_t kMaxAddressTextBytes = 128;         // names and addresses of recipients
constexpr size_t kMaxProtocolNameBytes = 4096 + 33;  // digest, backslash, a path
constexpr size_t kMaxServiceTextBytes = 512;         // error and status texts

struct LongMailAddress {
  std::string name;     // UTF-8, at most 128 bytes
  std::string address;  // UTF-8, at most 128 bytes
};

struct LongMailFileEntry {
  std::string protocol_name;  // MD5 hex, backslash, the full path
  uint32_t size = 0;          // bytes (below 2^31 on the wire)
  std::string digest;         // 32 lower-case hexadecimal digits
};

struct LongMailDescription {
  int32_t compose_mode = 0;
  uint32_t source_server_id = 0xFFFFFFFF;  // the mail replied to or forwarded
  std::string sender_name;
  std::string sender_address;
  uint32_t body_length = 0;                // UTF-8 bytes
  std::vector<LongMailFileEntry> files;
};

struct LongMailPart {
  int32_t type = kPartSubject;
  std::vector<LongMailAddress> to, cc, bcc;  // kPartRecipients
  std::string subject;                       // kPartSubject
  std::string name;                          // kPartAttachment: protocol name
  uint32_t offset = 0;                       // kPartBody, kPartAttachment
  Bytes data;                                // the slice's bytes; its size is the length
};

struct LongMailRequest {
  protocol::RequestHead head;  // session key, uin, AccountDataId, sync key
  std::string key;             // the delivery's key; empty for none
  std::optional<LongMailDescription> description;  // item 1
  std::vector<LongMailPart> parts;                 // item 2 when not empty
};

// The first failing result item.
struct LongMailServiceError {
  int32_t code = 0;
  std::string text;  // cut to kMaxServiceTextBytes
};

struct LongMailStatus {
  int32_t status = 0;
  std::string text;
  uint32_t value1 = 0;  // delivered: the new ServerID
  uint32_t value2 = 0;  // delivered: passed on unchanged
  int32_t percent = 0;  // the service's progress, 0..10000
};

struct LongMailInstruction {
  int32_t type = 0;
  int32_t offset = 0;
  int32_t length = 0;
  std::string name;  // kAskAttachment: protocol name
};

struct LongMailResponse {
  protocol::ResponseHead head;
  std::string key;                                  // may be empty
  std::optional<LongMailServiceError> item1_error;  // result item 1 with a non-zero code
  std::optional<LongMailServiceError> item2_error;  // result item 2 with an entry of non-zero code
  std::optional<LongMailStatus> status;             // the first result item 3
  std::optional<LongMailInstruction> instruction;   // the first instruction
};

bool EncodeLongMailRequest(const LongMailRequest& request, protocol::WireMessage* message);
int DecodeLongMailResponse(const protocol::WireMessage& message, LongMailResponse* response);

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_LONG_MAIL_MESSAGE_H_
