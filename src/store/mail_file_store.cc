#include "store/mail_file_store.h"

#include <cerrno>
#include <vector>

#include "platform/last_error.h"

namespace quill {
namespace store {
namespace {

constexpr char kAttachmentsDir[] = "Attachments";

std::string TwoDigits(uint32_t n) {
  return std::string(1, static_cast<char>('0' + n / 10)) + static_cast<char>('0' + n % 10);
}

}  // namespace

std::string MailFileStore::MailDir(uint32_t mail_id) const {
  if (mail_id == 0) return std::string();
  return base_ + TwoDigits(mail_id % 100) + "/" + std::to_string(mail_id) + "/";
}

bool MailFileStore::DeleteFilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (!fs_->ListPrefix(dir, "", &names)) return GetLastError() == ENOENT;
  for (const std::string& name : names) {
    if (name == kAttachmentsDir) continue;
    if (!fs_->Delete(dir + "/" + name)) return false;
  }
  return true;
}

bool MailFileStore::DeleteMailFiles(uint32_t mail_id) {
  if (mail_id == 0) return false;
  const std::string dir = MailDir(mail_id);
  return DeleteFilesIn(dir + kAttachmentsDir) && DeleteFilesIn(dir.substr(0, dir.size() - 1));
}

bool MailFileStore::DeleteAllMailFiles() {
  bool ok = true;
  for (uint32_t bucket = 0; bucket < 100; ++bucket) {
    const std::string dir = base_ + TwoDigits(bucket);
    std::vector<std::string> names;
    if (!fs_->ListPrefix(dir, "", &names)) continue;
    for (const std::string& name : names) {
      const std::string mail_dir = dir + "/" + name;
      ok = DeleteFilesIn(mail_dir + "/" + kAttachmentsDir) && DeleteFilesIn(mail_dir) && ok;
    }
  }
  return ok;
}

}  // namespace store
}  // namespace quill
