#include "store/attachment_entry.h"

#include <limits>

#include "platform/utf.h"

namespace quill {
namespace store {
namespace {

// A decimal number of 1 to 19 digits that fits max.
bool ParseDecimal(std::string_view digits, uint64_t max, uint64_t* out) {
  if (digits.empty() || digits.size() > 19) return false;
  uint64_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > max) return false;
  *out = v;
  return true;
}

// Splits "size?kind?name"; false when the line has another form.
bool SplitLine(std::string_view line, AttachmentEntry* entry) {
  size_t q1 = line.find('?');
  if (q1 == std::string_view::npos) return false;
  size_t q2 = line.find('?', q1 + 1);
  if (q2 == std::string_view::npos) return false;
  uint64_t size = 0, kind = 0;
  if (!ParseDecimal(line.substr(0, q1), std::numeric_limits<uint64_t>::max(), &size) ||
      !ParseDecimal(line.substr(q1 + 1, q2 - q1 - 1), std::numeric_limits<uint32_t>::max(), &kind)) {
    return false;
  }
  entry->size = size;
  entry->kind = static_cast<uint32_t>(kind);
  entry->name = Utf8ToUtf16(line.substr(q2 + 1));
  return true;
}

template <typename Fn>
void ForEachLine(std::string_view text, Fn fn) {
  if (text.empty()) return;
  size_t start = 0;
  while (true) {
    size_t nl = text.find('\n', start);
    fn(text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start));
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
}

}  // namespace

std::string FormatAttachmentList(const std::vector<AttachmentEntry>& entries) {
  std::string out;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i) out += '\n';
    out += std::to_string(entries[i].size) + "?" + std::to_string(entries[i].kind) + "?" +
           Utf16ToUtf8(entries[i].name);
  }
  return out;
}

std::vector<AttachmentEntry> ParseRecordAttachmentList(std::string_view utf8) {
  std::vector<AttachmentEntry> out;
  ForEachLine(utf8, [&](std::string_view line) {
    AttachmentEntry e;
    if (!SplitLine(line, &e)) e = AttachmentEntry{Utf8ToUtf16(line), 0, 0};
    out.push_back(std::move(e));
  });
  return out;
}

std::vector<AttachmentEntry> ParseFileAttachmentList(std::string_view utf8) {
  std::vector<AttachmentEntry> out;
  ForEachLine(utf8, [&](std::string_view line) {
    AttachmentEntry e;
    if (SplitLine(line, &e)) out.push_back(std::move(e));
  });
  return out;
}

}  // namespace store
}  // namespace quill
