// One entry of an attachment list: "size?kind?name" per line, lines joined
// by "\n", in text 5 of a mail record and in "attachs.txt".
#ifndef QUILL_STORE_ATTACHMENT_ENTRY_H_
#define QUILL_STORE_ATTACHMENT_ENTRY_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quill {
namespace store {

// Kind of an entry that the user attached from a local file; its name is the
// file's full path.
inline constexpr uint32_t kLocalFileAttachment = 0x40001;

struct AttachmentEntry {
  std::u16string name;  // attachment name, or the full path of a local file
  uint64_t size = 0;    // bytes
  uint32_t kind = 0;    // kLocalFileAttachment or the service's kind

  bool operator==(const AttachmentEntry& o) const {
    return name == o.name && size == o.size && kind == o.kind;
  }
};

// The UTF-8 lines of entries joined by "\n".
std::string FormatAttachmentList(const std::vector<AttachmentEntry>& entries);

// Mail record form: a line that is not "size?kind?name" with numbers becomes
// an entry whose name is the whole line, size and kind 0. Empty text, no entries.
std::vector<AttachmentEntry> ParseRecordAttachmentList(std::string_view utf8);

// "attachs.txt" form: each "?" must stand at position 1 to 19 of what is
// left, after a decimal number; other lines are skipped.
std::vector<AttachmentEntry> ParseFileAttachmentList(std::string_view utf8);

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_ATTACHMENT_ENTRY_H_
