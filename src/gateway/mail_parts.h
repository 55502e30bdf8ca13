// The leaf parts of one message with their decoded bytes, for the
// attachment and image commands: attachments (named as ParseMail names
// them, so they match the brief's list) and the inline parts an HTML body
// refers to ("cid:" or by Content-Location).
//
// Thread safety: ReadMailParts may run on several threads at once.
#ifndef QUILL_GATEWAY_MAIL_PARTS_H_
#define QUILL_GATEWAY_MAIL_PARTS_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"

namespace quill {
namespace gateway {

struct MailPart {
  bool attachment = false;    // listed among the mail's attachments
  std::string name;           // file name (attachments: "attachment" when none)
  std::string content_id;     // without the angle brackets; may be empty
  std::string location;       // Content-Location; may be empty
  std::string media_type;     // "image/png", lower case
  std::string charset;        // of a text part; may be empty
  Bytes data;                 // the decoded content
};

// Every leaf part, in the message's order; empty when it does not parse.
std::vector<MailPart> ReadMailParts(std::string_view message);

// The attachment a client names: the first whose name (cut to the 128 bytes
// a brief carries) equals `name`, else the first that does once control
// characters on both sides read as spaces (the client keeps names free of
// them). Null when none.
const MailPart* FindAttachment(const std::vector<MailPart>& parts, std::string_view name);

// The inline part an image address names: "cid:ID" by Content-ID, else by
// Content-Location. Null when none.
const MailPart* FindInlinePart(const std::vector<MailPart>& parts, std::string_view url);

// A part's bytes as UTF-8 text: from its charset (GBK and GB2312 included),
// else UTF-8 when they are valid UTF-8, else code page 936.
std::string PartTextUtf8(const MailPart& part);

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_MAIL_PARTS_H_
