// Reads one RFC 5322 message file (as a Maildir keeps it) into what the
// gateway serves: head fields, recipients, attachment names and sizes, and
// the body text. Headers are decoded (RFC 2047) and every text is UTF-8;
// a message that does not parse gives empty fields, never a failure, since
// a mailbox may hold anything.
//
// Thread safety: ParseMail may run on several threads at once.
#ifndef QUILL_GATEWAY_MAIL_PARSER_H_
#define QUILL_GATEWAY_MAIL_PARSER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quill {
namespace gateway {

struct MailAddress {
  std::string name;     // display name, may be empty
  std::string address;  // addr-spec, may be empty
};

struct MailAttachment {
  std::string name;   // file name, "attachment" when the part names none
  uint32_t size = 0;  // decoded bytes
};

struct ParsedMail {
  std::string subject;
  MailAddress from;                 // the first From mailbox
  int64_t date = 0;                 // seconds since 1970, 0 when absent or unreadable
  std::vector<MailAddress> to;      // mailboxes of To, groups flattened
  std::vector<MailAddress> cc;      // mailboxes of Cc
  std::vector<MailAttachment> attachments;
  // The HTML part when there is one, else the plain text made HTML
  // (PlainToHtml): the client shows every body with its HTML engine.
  std::string body;
  bool body_is_html = false;        // the body came from an HTML part
};

// The messages served are at most this large; bigger files are read only
// up to it.
constexpr size_t kMaxMailFileBytes = 32u << 20;

ParsedMail ParseMail(std::string_view message);

// Initialises GMime once for the process; every user of GMime calls it.
void InitGMime();

// Plain text as HTML: &, <, > and " escaped, every line break a <br>
// (no line feed after it: the client's engine shows a lone LF as a space).
std::string PlainToHtml(std::string_view plain);

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_GATEWAY_MAIL_PARSER_H_
