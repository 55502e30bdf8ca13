#include "store/attachment_limits.h"

#include <algorithm>

#include "platform/utf.h"

namespace quill {
namespace store {

AttachmentCheck CheckNewAttachment(FileSystem* fs, const std::vector<AttachmentEntry>& list,
                                   const std::u16string& path, AttachmentEntry* entry, size_t* duplicate) {
  std::unique_ptr<File> f = fs->Open(Utf16ToUtf8(path), FileSystem::OpenMode::kRead);
  uint64_t size = 0;
  if (!f || !f->Size(&size)) return AttachmentCheck::kCannotOpen;
  if (size == 0) return AttachmentCheck::kEmpty;
  if (list.size() >= kMaxAttachments) return AttachmentCheck::kTooMany;
  uint64_t total = size;
  for (const AttachmentEntry& e : list) {
    if (e.kind == kLocalFileAttachment) total += std::min(e.size, kMaxAttachmentBytes + 1);  // no overflow
  }
  if (total > kMaxAttachmentBytes || size > kMaxAttachmentBytes) return AttachmentCheck::kTooLarge;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].name == path) {
      *duplicate = i;
      return AttachmentCheck::kDuplicate;
    }
  }
  *entry = AttachmentEntry{path, size, kLocalFileAttachment};
  return AttachmentCheck::kOk;
}

const char16_t* AttachmentCheckMessage(AttachmentCheck check) {
  switch (check) {
    case AttachmentCheck::kOk: return u"";
    case AttachmentCheck::kCannotOpen: return u"文件无法打开";
    case AttachmentCheck::kEmpty: return u"上传文件大小不能为0";
    case AttachmentCheck::kTooMany: return u"只能添加20个附件";
    case AttachmentCheck::kTooLarge: return u"只能添加总大小20M的附件";
    case AttachmentCheck::kDuplicate: return u"文件已存在";
  }
  return u"";
}

}  // namespace store
}  // namespace quill
