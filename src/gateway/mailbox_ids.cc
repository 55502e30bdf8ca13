#include "gateway/mailbox_ids.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace quill {
namespace gateway {
namespace {

struct Field {
  const char* name;
  uint32_t MailboxIds::*value;
};
constexpr Field kFields[] = {{"server_id", &MailboxIds::server_id},
                             {"folder_id", &MailboxIds::folder_id},
                             {"contact_id", &MailboxIds::contact_id},
                             {"key", &MailboxIds::key}};

}  // namespace

bool MailboxIds::Covers(const MailboxIds& other) const {
  for (const Field& f : kFields) {
    if (this->*f.value < other.*f.value) return false;
  }
  return true;
}

MailboxIds MailboxIds::Max(const MailboxIds& a, const MailboxIds& b) {
  MailboxIds out;
  for (const Field& f : kFields) out.*f.value = std::max(a.*f.value, b.*f.value);
  return out;
}

bool MailboxIds::operator==(const MailboxIds& other) const {
  return Covers(other) && other.Covers(*this);
}

IdMarkRead ReadIdMark(FileSystem* fs, const std::string& path, MailboxIds* ids) {
  if (!fs->Exists(path)) return IdMarkRead::kMissing;
  Bytes data;
  if (!fs->ReadFile(path, &data)) return IdMarkRead::kDamaged;
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  MailboxIds read;
  bool seen[std::size(kFields)] = {};
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty()) continue;
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) return IdMarkRead::kDamaged;
    const std::string_view name = line.substr(0, space), number = line.substr(space + 1);
    size_t which = std::size(kFields);
    for (size_t i = 0; i < std::size(kFields); ++i) {
      if (name == kFields[i].name) which = i;
    }
    uint32_t value = 0;
    const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (which == std::size(kFields) || seen[which] || ec != std::errc() ||
        ptr != number.data() + number.size() || number.empty() || value == 0) {
      return IdMarkRead::kDamaged;
    }
    seen[which] = true;
    read.*kFields[which].value = value;
  }
  for (bool s : seen) {
    if (!s) return IdMarkRead::kDamaged;
  }
  *ids = read;
  return IdMarkRead::kRead;
}

bool WriteIdMark(FileSystem* fs, const std::string& path, const MailboxIds& ids) {
  std::string text;
  for (const Field& f : kFields) text += std::string(f.name) + " " + std::to_string(ids.*f.value) + "\n";
  return fs->ReplaceAtomically(path, ByteView(text));
}

}  // namespace gateway
}  // namespace quill
