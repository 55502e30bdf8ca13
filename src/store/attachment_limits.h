// The rules for adding a local file to a mail's attachment list: the file
// must open and not be empty, at most 20 entries, at most 20 MB of local
// files in total, and no path twice (paths compare exactly: the file system
// is case-sensitive).
#ifndef QUILL_STORE_ATTACHMENT_LIMITS_H_
#define QUILL_STORE_ATTACHMENT_LIMITS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "store/attachment_entry.h"

namespace quill {
namespace store {

inline constexpr size_t kMaxAttachments = 20;
inline constexpr uint64_t kMaxAttachmentBytes = 20971520;

enum class AttachmentCheck { kOk, kCannotOpen, kEmpty, kTooMany, kTooLarge, kDuplicate };

// Checks path (UTF-16, a full path) against list. On kOk *entry is the new
// entry (path, size, kLocalFileAttachment); on kDuplicate *duplicate is the
// index of the entry with that path.
AttachmentCheck CheckNewAttachment(FileSystem* fs, const std::vector<AttachmentEntry>& list,
                                   const std::u16string& path, AttachmentEntry* entry, size_t* duplicate);

// The message box text for a refusal ("" for kOk).
const char16_t* AttachmentCheckMessage(AttachmentCheck check);

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_ATTACHMENT_LIMITS_H_
