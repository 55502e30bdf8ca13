#include "gateway/mail_parts.h"

#include <gmime/gmime.h>

#include <mutex>

#include "platform/codepage.h"
#include "platform/utf.h"

namespace quill {
namespace gateway {
namespace {

constexpr size_t kBriefNameBytes = 128;

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

Bytes DecodedContent(GMimePart* part) {
  Bytes out;
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (content == nullptr) return out;
  GByteArray* array = g_byte_array_new();
  GMimeStream* stream = g_mime_stream_mem_new_with_byte_array(array);
  g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream), FALSE);
  if (g_mime_data_wrapper_write_to_stream(content, stream) >= 0) {
    out.assign(array->data, array->data + array->len);
  }
  g_object_unref(stream);
  g_byte_array_free(array, TRUE);
  return out;
}

void VisitPart(GMimeObject*, GMimeObject* object, gpointer data) {
  if (!GMIME_IS_PART(object)) return;
  auto* parts = static_cast<std::vector<MailPart>*>(data);
  GMimePart* leaf = GMIME_PART(object);
  MailPart part;
  part.attachment = g_mime_part_is_attachment(leaf);
  if (const char* name = g_mime_part_get_filename(leaf)) {
    part.name = name;
  } else if (part.attachment) {
    part.name = "attachment";
  }
  if (const char* id = g_mime_object_get_content_id(object)) part.content_id = id;
  if (const char* location = g_mime_part_get_content_location(leaf)) part.location = location;
  GMimeContentType* type = g_mime_object_get_content_type(object);
  if (type != nullptr) {
    char* mime = g_mime_content_type_get_mime_type(type);
    if (mime != nullptr) part.media_type = Lower(mime);
    g_free(mime);
    if (const char* charset = g_mime_content_type_get_parameter(type, "charset")) {
      part.charset = charset;
    }
  }
  part.data = DecodedContent(leaf);
  parts->push_back(std::move(part));
}

// Control characters read as spaces.
std::string Normalised(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return out;
}

bool ValidUtf8(const Bytes& data) {
  return g_utf8_validate(reinterpret_cast<const char*>(data.data()),
                         static_cast<gssize>(data.size()), nullptr);
}

}  // namespace

std::vector<MailPart> ReadMailParts(std::string_view message) {
  InitOnce();
  std::vector<MailPart> parts;
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(message.data(), message.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* m = g_mime_parser_construct_message(parser, nullptr);
  g_object_unref(parser);
  g_object_unref(stream);
  if (m == nullptr) return parts;
  g_mime_message_foreach(m, VisitPart, &parts);
  g_object_unref(m);
  return parts;
}

const MailPart* FindAttachment(const std::vector<MailPart>& parts, std::string_view name) {
  for (const MailPart& p : parts) {
    if (p.attachment && CutUtf8(p.name, kBriefNameBytes) == name) return &p;
  }
  const std::string wanted = Normalised(name);
  for (const MailPart& p : parts) {
    if (p.attachment && Normalised(CutUtf8(p.name, kBriefNameBytes)) == wanted) return &p;
  }
  return nullptr;
}

const MailPart* FindInlinePart(const std::vector<MailPart>& parts, std::string_view url) {
  if (url.size() > 4 && Lower(std::string(url.substr(0, 4))) == "cid:") {
    std::string_view id = url.substr(4);
    if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
    for (const MailPart& p : parts) {
      if (!p.content_id.empty() && p.content_id == id) return &p;
    }
    return nullptr;
  }
  for (const MailPart& p : parts) {
    if (!p.location.empty() && p.location == url) return &p;
  }
  return nullptr;
}

std::string PartTextUtf8(const MailPart& part) {
  const char* bytes = reinterpret_cast<const char*>(part.data.data());
  const gssize size = static_cast<gssize>(part.data.size());
  if (!part.charset.empty()) {
    // GB18030 holds GBK, which holds GB2312: mail labelled with the older
    // names often uses characters only the newer ones have.
    const std::string charset = Lower(part.charset);
    const char* from = charset == "gb2312" || charset == "gbk" ? "GB18030" : part.charset.c_str();
    gsize written = 0;
    gchar* utf8 = g_convert_with_fallback(bytes, size, "UTF-8", from, "?",
                                          nullptr, &written, nullptr);
    if (utf8 != nullptr) {
      std::string out(utf8, written);
      g_free(utf8);
      return out;
    }
  }
  if (ValidUtf8(part.data)) return std::string(bytes, part.data.size());
  return Utf16ToUtf8(Cp936ToUtf16(std::string_view(bytes, part.data.size())));
}

}  // namespace gateway
}  // namespace quill
