#include "gateway/mime_builder.h"

#include <gmime/gmime.h>

#include <cctype>

#include "platform/ascii.h"
#include "platform/utf.h"

namespace quill {
namespace gateway {
namespace {

// Drops a GObject reference at the end of a scope.
template <typename T>
class Ref {
 public:
  explicit Ref(T* object) : object_(object) {}
  ~Ref() {
    if (object_ != nullptr) g_object_unref(object_);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* get() const { return object_; }

 private:
  T* object_;
};

GMimeTextPart* TextPart(const char* subtype, const std::string& text) {
  GMimeTextPart* part = g_mime_text_part_new_with_subtype(subtype);
  g_mime_text_part_set_charset(part, "utf-8");
  g_mime_text_part_set_text(part, text.c_str());
  g_mime_part_set_content_encoding(
      GMIME_PART(part),
      g_mime_part_get_best_content_encoding(GMIME_PART(part), GMIME_ENCODING_CONSTRAINT_7BIT));
  return part;
}

void AddMailboxes(GMimeMessage* m, GMimeAddressType type, const std::vector<MailAddress>& list) {
  for (const MailAddress& a : list) {
    g_mime_message_add_mailbox(m, type, a.name.empty() ? nullptr : a.name.c_str(),
                               a.address.c_str());
  }
}

}  // namespace

std::string HtmlToPlain(std::string_view html) {
  std::string out;
  size_t i = 0;
  while (i < html.size()) {
    const char c = html[i];
    if (c == '<') {
      const size_t end = html.find('>', i);
      if (end == std::string_view::npos) break;
      const std::string tag = AsciiLowered(html.substr(i + 1, end - i - 1));
      size_t n = !tag.empty() && tag[0] == '/' ? 1 : 0;
      while (n < tag.size() && std::isalnum(static_cast<unsigned char>(tag[n]))) ++n;
      const std::string name = tag.substr(0, n);
      if (name == "br" || name == "/p" || name == "/div" || name == "/tr" || name == "/li" ||
          name == "/h1" || name == "/h2" || name == "/h3") {
        out += '\n';
      }
      i = end + 1;
      continue;
    }
    if (c == '&') {
      static const struct {
        const char* entity;
        const char* text;
      } kEntities[] = {{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}, {"&quot;", "\""},
                       {"&nbsp;", " "}, {"&#39;", "'"}};
      bool decoded = false;
      for (const auto& e : kEntities) {
        const std::string_view entity(e.entity);
        if (html.substr(i, entity.size()) == entity) {
          out += e.text;
          i += entity.size();
          decoded = true;
          break;
        }
      }
      if (decoded) continue;
    }
    if (c != '\r' && c != '\n') out += c;
    ++i;
  }
  return out;
}

bool BuildMessage(FileSystem* fs, const OutgoingMail& mail, std::string* out) {
  InitGMime();
  Ref<GMimeMessage> message(g_mime_message_new(TRUE));
  GMimeMessage* m = message.get();
  g_mime_message_add_mailbox(m, GMIME_ADDRESS_TYPE_FROM,
                             mail.from.name.empty() ? nullptr : mail.from.name.c_str(),
                             mail.from.address.c_str());
  AddMailboxes(m, GMIME_ADDRESS_TYPE_TO, mail.to);
  AddMailboxes(m, GMIME_ADDRESS_TYPE_CC, mail.cc);
  g_mime_message_set_subject(m, mail.subject.c_str(), "utf-8");
  GDateTime* date = g_date_time_new_from_unix_utc(mail.date);
  g_mime_message_set_date(m, date);
  g_date_time_unref(date);
  g_mime_message_set_message_id(m, mail.message_id.c_str());

  Ref<GMimeMultipart> alternative(g_mime_multipart_new_with_subtype("alternative"));
  Ref<GMimeTextPart> plain(TextPart("plain", HtmlToPlain(mail.html)));
  Ref<GMimeTextPart> html(TextPart("html", mail.html));
  g_mime_multipart_add(alternative.get(), GMIME_OBJECT(plain.get()));
  g_mime_multipart_add(alternative.get(), GMIME_OBJECT(html.get()));
  if (mail.attachments.empty()) {
    g_mime_message_set_mime_part(m, GMIME_OBJECT(alternative.get()));
  } else {
    Ref<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
    g_mime_multipart_add(mixed.get(), GMIME_OBJECT(alternative.get()));
    for (const OutgoingAttachment& a : mail.attachments) {
      Bytes bytes;
      if (!fs->ReadFile(a.path, &bytes)) return false;
      Ref<GMimePart> part(g_mime_part_new_with_type("application", "octet-stream"));
      g_mime_object_set_disposition(GMIME_OBJECT(part.get()), GMIME_DISPOSITION_ATTACHMENT);
      g_mime_part_set_filename(part.get(), a.name.c_str());
      Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(
          reinterpret_cast<const char*>(bytes.data()), bytes.size()));
      Ref<GMimeDataWrapper> content(
          g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
      g_mime_part_set_content(part.get(), content.get());
      g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
      g_mime_multipart_add(mixed.get(), GMIME_OBJECT(part.get()));
    }
    g_mime_message_set_mime_part(m, GMIME_OBJECT(mixed.get()));
  }

  GMimeFormatOptions* options = g_mime_format_options_new();
  g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
  g_mime_format_options_set_param_encoding_method(options, GMIME_PARAM_ENCODING_METHOD_RFC2231);
  Ref<GMimeStream> sink(g_mime_stream_mem_new());
  const ssize_t written = g_mime_object_write_to_stream(GMIME_OBJECT(m), options, sink.get());
  g_mime_format_options_free(options);
  if (written < 0) return false;
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(sink.get()));
  out->assign(reinterpret_cast<const char*>(bytes->data), bytes->len);
  return true;
}

}  // namespace gateway
}  // namespace quill
