#include "store/mail_record.h"

#include <algorithm>

#include "platform/utf.h"
#include "store/le_bytes.h"
#include "platform/utf.h"

namespace quill {
namespace store {
namespace {

constexpr size_t kKeptLines = 10;

std::string JoinLines(const std::vector<std::u16string>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += '\n';
    out += Utf16ToUtf8(lines[i]);
  }
  return out;
}

std::vector<std::u16string> SplitLines(std::string_view text) {
  std::vector<std::u16string> out;
  if (text.empty()) return out;
  size_t start = 0;
  while (true) {
    size_t nl = text.find('\n', start);
    out.push_back(Utf8ToUtf16(text.substr(start, nl == std::string_view::npos ? nl : nl - start)));
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  return out;
}

}  // namespace

MailRecord::MailRecord() : raw_(kSize, 0) {
  std::fill(raw_.begin(), raw_.begin() + 8, 0xFF);
}

uint16_t MailRecord::Get16(uint32_t at) const { return GetLe16(raw_.data() + at); }
uint32_t MailRecord::Get32(uint32_t at) const { return GetLe32(raw_.data() + at); }
uint64_t MailRecord::Get64(uint32_t at) const { return GetLe64(raw_.data() + at); }
void MailRecord::Put16(uint32_t at, uint16_t v) { PutLe16(raw_.data() + at, v); }
void MailRecord::Put32(uint32_t at, uint32_t v) { PutLe32(raw_.data() + at, v); }
void MailRecord::Put64(uint32_t at, uint64_t v) { PutLe64(raw_.data() + at, v); }

uint32_t MailRecord::ServerIdOf(const uint8_t* p) { return GetLe32(p + kServerIdAt); }
uint32_t MailRecord::FolderOf(const uint8_t* p) { return GetLe32(p + kFolderAt); }
uint64_t MailRecord::DateOf(const uint8_t* p) { return GetLe64(p + kDateAt); }
uint32_t MailRecord::FlagsOf(const uint8_t* p) { return GetLe32(p + kFlagsAt); }
uint16_t MailRecord::LocalKindOf(const uint8_t* p) { return (GetLe16(p + kStateAt) >> 3) & 3; }

bool MailRecord::Decode(ByteView raw) {
  if (raw.size != kSize) return false;
  raw_.assign(raw.begin(), raw.end());
  std::string texts[6];
  uint32_t at = 0;
  for (int i = 0; i < 6; ++i) {
    const uint32_t n = std::min<uint32_t>(text_length(i), kTextArea - at);
    texts[i].assign(reinterpret_cast<const char*>(raw_.data() + kTextAt + at), n);
    at += n;
  }
  sender = Utf8ToUtf16(texts[0]);
  subject = Utf8ToUtf16(texts[1]);
  reserved = Utf8ToUtf16(texts[2]);
  lines3 = SplitLines(texts[3]);
  lines4 = SplitLines(texts[4]);
  attachments = ParseRecordAttachmentList(texts[5]);
  texts_changed_ = false;
  return true;
}

const Bytes& MailRecord::Encode() {
  if (!texts_changed_) return raw_;
  std::string texts[6];
  auto encode_all = [&] {
    texts[0] = Utf16ToUtf8(sender);
    texts[1] = Utf16ToUtf8(subject);
    texts[2] = Utf16ToUtf8(reserved);
    texts[3] = JoinLines(lines3);
    texts[4] = JoinLines(lines4);
    texts[5] = FormatAttachmentList(attachments);
    size_t total = 0;
    for (const std::string& t : texts) total += t.size();
    return total;
  };
  while (encode_all() > kTextArea) {
    if (!reserved.empty()) {
      reserved.clear();
      set_body_state(kNoBody);
    } else if (lines3.size() > kKeptLines) {
      lines3.resize(kKeptLines);
    } else if (lines4.size() > kKeptLines) {
      lines4.resize(kKeptLines);
    } else {
      attachments.clear();
      encode_all();
      break;
    }
  }
  std::fill(raw_.begin() + kTextAt, raw_.end(), 0);
  uint32_t at = 0;
  for (int i = 0; i < 6; ++i) {
    const size_t n = Utf8PrefixLength(texts[i], kTextArea - at);
    std::copy(texts[i].begin(), texts[i].begin() + n, raw_.begin() + kTextAt + at);
    Put16(kLengthsAt + 2 * i, static_cast<uint16_t>(n));
    at += static_cast<uint32_t>(n);
  }
  // The texts in memory become what the record holds now.
  const Bytes encoded = raw_;
  Decode(encoded);
  return raw_;
}

}  // namespace store
}  // namespace quill
