// The "getmailimg" command's messages (type 108): an image a mail's body
// refers to, by its address, in pieces.
//
// Request: 3 client version, 4 platform, 1 session key, 2 AccountDataId,
// 5 sync key, 6 continuation (0 first, then tag 2 of the last answer),
// 7 ServerID, 9 width, 10 height (the display box; 0: as large as it is),
// 11 offset (bytes held), 12 length wanted (0x7FFFFFFF), 14 0, 8 the image
// address (8-bit text).
// Response: 1 result; 11 retry delay in seconds (with -10); for 0 also
// 2 continuation, 7 total, 9 piece length, 10 piece bytes, 4 the name
// suffix of the cached file (e.g. ".png"), 5 offset of the piece; 3, 6, 8,
// 12 integers, kept. The piece length must equal the bytes' length.
#ifndef QUILL_COMMANDS_IMAGE_MESSAGE_H_
#define QUILL_COMMANDS_IMAGE_MESSAGE_H_

#include <cstdint>
#include <string>

#include "platform/bytes.h"
#include "protocol/message_heads.h"
#include "protocol/wire_message.h"

namespace quill {
namespace commands {

inline constexpr char kImagePath[] = "/cgi-bin/rb-bin/getmailimg";

constexpr int32_t kImageLengthWanted = 0x7FFFFFFF;
// The image is not ready: ask again after the response's delay.
constexpr int32_t kImageNotReady = -10;
// The gateway does not fetch remote images (http:, https:): the image is
// not available.
constexpr int32_t kImageRemoteRefused = -12;
// Image addresses longer than this are not asked for.
constexpr size_t kMaxImageUrlBytes = 2048;
// The suffix kept from tag 4 is at most this long.
constexpr size_t kMaxImageSuffixBytes = 64;

struct MailImageRequest {
  protocol::RequestHead head;  // session key, uin, AccountDataId, sync key
  uint32_t server_id = 0;
  std::string url;             // UTF-8, at most kMaxImageUrlBytes
  uint32_t width = 0;
  uint32_t height = 0;
  int32_t offset = 0;          // bytes held
  int32_t continuation = 0;    // tag 2 of the previous answer; 0 first
};

struct MailImageResponse {
  protocol::ResponseHead head;
  uint32_t retry_delay = 0;    // seconds, with kImageNotReady
  int32_t continuation = 0;
  int64_t total = 0;           // bytes of the whole image
  bool has_offset = false;
  int64_t offset = 0;          // where `piece` starts
  std::string suffix;          // tag 4, as sent
  Bytes piece;
};

bool EncodeImageRequest(const MailImageRequest& request, protocol::WireMessage* message);
int DecodeImageResponse(const protocol::WireMessage& message, MailImageResponse* response);

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_IMAGE_MESSAGE_H_
