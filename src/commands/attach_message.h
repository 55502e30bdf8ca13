// The "getmailattach" command's messages (type 106): one attachment of a
// mail, by name, in one of three uses.
//
// Request: 8 client version, 9 platform, 1 session key, 2 sync key,
// 3 AccountDataId, 4 ServerID, 5 attachment name (at most 128 bytes),
// 6 sub-request kind, 7 the sub-request:
//   1 download: 1 offset, 2 length wanted (0x7FFFFFFF), 3 0
//   2 text:     1 offset, 2 length, 3 version held (0: none)
//   3 picture:  1 width, 2 height, 3 offset, 4 length wanted (0x7FFFFFFF),
//               5 version held (0: none), 6 0
// Offsets and lengths of text count UTF-16 units of the converted text;
// those of downloads and pictures count bytes.
//
// Response: 1 result; for 0 also 2 sync-needed, 3 sub-response kind (the
// request's), 4 the sub-response:
//   1 download: 1 sub-result, 2 total, 3 offset, 4 length, 6 version, 5 bytes
//   2 text:     1 sub-result, 2 total, 3 offset, 4 length, 6 version, 5 text
//   3 picture:  1 sub-result, 2 width, 3 height, 4 total, 5 offset,
//               6 length, 8 version, 7 bytes
// A negative sub-result carries no data; its total and version are read
// when present. The length field must equal the data's length (units for
// text).
#ifndef QUILL_COMMANDS_ATTACH_MESSAGE_H_
#define QUILL_COMMANDS_ATTACH_MESSAGE_H_

#include <cstdint>
#include <string>

#include "platform/bytes.h"
#include "protocol/message_heads.h"
#include "protocol/wire_message.h"

namespace quill {
namespace commands {

inline constexpr char kAttachPath[] = "/cgi-bin/rb-bin/getmailattach";

constexpr int32_t kAttachLengthWanted = 0x7FFFFFFF;
constexpr size_t kMaxAttachNameBytes = 128;

// Sub-request and sub-response kinds.
enum class AttachKind : int32_t { kDownload = 1, kText = 2, kPicture = 3 };

// Sub-results beside 0 (data follows).
constexpr int32_t kAttachComplete = -4;         // download: nothing is left to send
constexpr int32_t kAttachNothingMore = -7;      // picture: past the end; text: the copy held is stale
constexpr int32_t kAttachVersionChanged = -8;   // picture: restart from 0 with the new version

struct AttachRequest {
  protocol::RequestHead head;  // session key, uin, AccountDataId, sync key
  uint32_t server_id = 0;
  std::string name;            // UTF-8, at most kMaxAttachNameBytes
  AttachKind kind = AttachKind::kDownload;
  int32_t offset = 0;          // bytes held (download, picture); units asked (text)
  int32_t length = kAttachLengthWanted;  // text: units asked; else kAttachLengthWanted
  int32_t version = 0;         // text and picture: version held, 0 for none
  int32_t width = 0;           // picture: the display box (0: as large as it is)
  int32_t height = 0;
};

struct AttachResponse {
  protocol::ResponseHead head;
  int32_t sync_needed = 0;     // non-zero: a sync with reason 4 follows a success
  AttachKind kind = AttachKind::kDownload;
  int32_t sub_result = 0;      // >= 0: `data` holds the piece or slice
  bool has_total = false;      // a negative sub-result may leave it out
  int64_t total = 0;           // bytes, or units of text
  int64_t offset = 0;          // where `data` starts
  int32_t version = 0;
  bool has_version = false;
  int32_t width = 0;           // picture: the preview's size, kept
  int32_t height = 0;
  Bytes data;                  // piece bytes, or the slice as UTF-8
};

bool EncodeAttachRequest(const AttachRequest& request, protocol::WireMessage* message);
// A response of type 106. A sub-response of another kind than `expected`,
// a negative total or offset, or a length that is not the data's fails.
int DecodeAttachResponse(const protocol::WireMessage& message, AttachKind expected,
                         AttachResponse* response);

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_ATTACH_MESSAGE_H_
