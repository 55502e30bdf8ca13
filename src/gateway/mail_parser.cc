#include "gateway/mail_parser.h"

#include <gmime/gmime.h>

#include <mutex>

namespace quill {
namespace gateway {
namespace {

void CollectMailboxes(InternetAddressList* list, std::vector<MailAddress>* out) {
  if (list == nullptr) return;
  const int n = internet_address_list_length(list);
  for (int i = 0; i < n; ++i) {
    InternetAddress* a = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_GROUP(a)) {
      CollectMailboxes(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a)), out);
      continue;
    }
    MailAddress m;
    if (const char* name = internet_address_get_name(a)) m.name = name;
    if (const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a))) {
      m.address = addr;
    }
    out->push_back(std::move(m));
  }
}

// Decoded size of a part's content.
uint32_t DecodedSize(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (content == nullptr) return 0;
  GMimeStream* null_stream = g_mime_stream_null_new();
  const gint64 n = g_mime_data_wrapper_write_to_stream(content, null_stream);
  g_object_unref(null_stream);
  return n < 0 ? 0 : static_cast<uint32_t>(std::min<gint64>(n, UINT32_MAX));
}

struct PartWalk {
  ParsedMail* mail = nullptr;
  bool have_plain = false;
  bool have_html = false;
  std::string plain;
};

void VisitPart(GMimeObject*, GMimeObject* part, gpointer data) {
  auto* walk = static_cast<PartWalk*>(data);
  if (!GMIME_IS_PART(part)) return;
  GMimePart* leaf = GMIME_PART(part);
  if (g_mime_part_is_attachment(leaf)) {
    MailAttachment a;
    const char* name = g_mime_part_get_filename(leaf);
    a.name = name != nullptr ? name : "attachment";
    a.size = DecodedSize(leaf);
    walk->mail->attachments.push_back(std::move(a));
    return;
  }
  if (!GMIME_IS_TEXT_PART(part)) return;
  GMimeContentType* type = g_mime_object_get_content_type(part);
  const bool html = g_mime_content_type_is_type(type, "text", "html");
  const bool plain = g_mime_content_type_is_type(type, "text", "plain");
  if ((html && walk->have_html) || (plain && walk->have_plain) || (!html && !plain)) return;
  char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(part));
  if (text == nullptr) return;
  if (html) {
    walk->mail->body = text;
    walk->mail->body_is_html = true;
    walk->have_html = true;
  } else {
    walk->plain = text;
    walk->have_plain = true;
  }
  g_free(text);
}

}  // namespace

void InitGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

std::string PlainToHtml(std::string_view plain) {
  std::string out;
  out.reserve(plain.size() + plain.size() / 8);
  for (size_t i = 0; i < plain.size(); ++i) {
    const char c = plain[i];
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\r':
        if (i + 1 < plain.size() && plain[i + 1] == '\n') ++i;
        out += "<br>";
        break;
      case '\n': out += "<br>"; break;
      default: out += c;
    }
  }
  return out;
}

ParsedMail ParseMail(std::string_view message) {
  InitGMime();
  ParsedMail mail;
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(message.data(), message.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* m = g_mime_parser_construct_message(parser, nullptr);
  g_object_unref(parser);
  g_object_unref(stream);
  if (m == nullptr) return mail;
  if (const char* subject = g_mime_message_get_subject(m)) mail.subject = subject;
  std::vector<MailAddress> from;
  CollectMailboxes(g_mime_message_get_from(m), &from);
  if (!from.empty()) mail.from = from[0];
  if (GDateTime* date = g_mime_message_get_date(m)) mail.date = g_date_time_to_unix(date);
  CollectMailboxes(g_mime_message_get_addresses(m, GMIME_ADDRESS_TYPE_TO), &mail.to);
  CollectMailboxes(g_mime_message_get_addresses(m, GMIME_ADDRESS_TYPE_CC), &mail.cc);
  PartWalk walk;
  walk.mail = &mail;
  g_mime_message_foreach(m, VisitPart, &walk);
  if (!walk.have_html) mail.body = PlainToHtml(walk.plain);
  g_object_unref(m);
  return mail;
}

}  // namespace gateway
}  // namespace quill
