// Builds MIME messages for the gateway tests and benchmarks: multipart
// mails with attachments and inline parts, every part in base64.
#ifndef QUILL_TESTS_GATEWAY_MIME_WRITER_H_
#define QUILL_TESTS_GATEWAY_MIME_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quill {
namespace gateway {

// One part of a multipart message.
struct MimePart {
  std::string content_type;  // e.g. "image/png" or "text/plain; charset=gbk"
  std::string headers;       // further header lines, each ending in CRLF
                             // (Content-Disposition, Content-ID)
  std::string data;          // the decoded bytes (sent as base64)
};

inline std::string Base64(const std::string& data) {
  static const char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t line = 0;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(data[i]) << 16;
    if (i + 1 < data.size()) v |= static_cast<uint8_t>(data[i + 1]) << 8;
    if (i + 2 < data.size()) v |= static_cast<uint8_t>(data[i + 2]);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < data.size() ? kDigits[(v >> 6) & 63] : '=';
    out += i + 2 < data.size() ? kDigits[v & 63] : '=';
    if (++line == 19) {
      out += "\r\n";
      line = 0;
    }
  }
  return out;
}

// An attachment part named `file_name` (RFC 2231, so any bytes fit).
inline MimePart AttachmentPart(const std::string& file_name, const std::string& data,
                               const std::string& type = "application/octet-stream") {
  std::string encoded;
  for (unsigned char c : file_name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    if (plain) {
      encoded += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  return MimePart{type, "Content-Disposition: attachment; filename*=UTF-8''" + encoded + "\r\n",
                  data};
}

// A multipart/mixed message: an HTML body, then the parts.
inline std::string MultipartMessage(const std::string& subject, const std::string& html,
                                    const std::vector<MimePart>& parts) {
  const std::string b = "=_quill_boundary_7f3a";
  std::string m = "From: z@x\r\nTo: alice@example.com\r\nSubject: " + subject +
                  "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0000\r\nMIME-Version: 1.0\r\n"
                  "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\n";
  m += "--" + b + "\r\nContent-Type: text/html; charset=utf-8\r\n"
       "Content-Transfer-Encoding: 8bit\r\n\r\n" + html + "\r\n";
  for (const MimePart& p : parts) {
    m += "--" + b + "\r\nContent-Type: " + p.content_type + "\r\n" + p.headers +
         "Content-Transfer-Encoding: base64\r\n\r\n" + Base64(p.data) + "\r\n";
  }
  return m + "--" + b + "--\r\n";
}

}  // namespace gateway
}  // namespace quill

#endif  // QUILL_TESTS_GATEWAY_MIME_WRITER_H_
