// Builds the RFC 5322 message of a mail the gateway delivers, with GMime:
// UTF-8 headers encoded per RFC 2047, the HTML body with a plain-text
// alternative, attachments in base64 with RFC 2231 file names, a
// Message-ID and a Date. Lines end in CR LF.
//
// Thread safety: BuildMessage may run on several threads at once.
#ifndef QUILL_GATEWAY_MIME_BUILDER_H_
#define QUILL_GATEWAY_MIME_BUILDER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/mail_parser.h"
#include "platform/file_system.h"

namespace quill {
namespace gateway {

struct OutgoingAttachment {
  std::string name;  // the file name shown, UTF-8
  std::string path;  // where its bytes are
};

struct OutgoingMail {
  MailAddress from;
  std::vector<MailAddress> to, cc;  // Bcc recipients get the mail but no header
  std::string subject;              // UTF-8
  std::string html;                 // the body
  int64_t date = 0;                 // seconds since 1970
  std::string message_id;           // without the angle brackets
  std::vector<OutgoingAttachment> attachments;
};

// The message's bytes; false when an attachment cannot be read.
bool BuildMessage(FileSystem* fs, const OutgoingMail& mail, std::string* out);

// The text of an HTML body for its plain alternative: tags dropped, line
// breaks for <br> and the ends of blocks, the common entities decoded.
std::string HtmlToPlain(std::string_view html);

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_MIME_BUILDER_H_
