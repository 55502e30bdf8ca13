// The per-mail directories of one account: MailID modulo 100 as two digits,
// then the MailID ("07/7/", "34/1234/") under the account directory.
//
// Thread safety: none; UI thread only.
#ifndef QUILL_STORE_MAIL_FILE_STORE_H_
#define QUILL_STORE_MAIL_FILE_STORE_H_

#include <cstdint>
#include <string>

#include "platform/file_system.h"

namespace quill {
namespace store {

class MailFileStore {
 public:
  // fs must outlive this object.
  explicit MailFileStore(FileSystem* fs) : fs_(fs) {}

  // The account directory, ending in '/'.
  void SetBase(const std::string& account_dir) { base_ = account_dir; }
  const std::string& base() const { return base_; }

  // The mail's directory with its trailing '/'; "" for MailID 0.
  std::string MailDir(uint32_t mail_id) const;

  // Deletes every file of the mail's directory and of its "Attachments"
  // directory; the directories stay. Stops at the first file that cannot be
  // deleted. A missing directory is success.
  bool DeleteMailFiles(uint32_t mail_id);
  // The same for every per-mail directory of the account (after the mail
  // index started over, so new MailIDs never meet old files).
  bool DeleteAllMailFiles();

 private:
  bool DeleteFilesIn(const std::string& dir);

  FileSystem* const fs_;
  std::string base_;  // account directory, ends in '/'
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_MAIL_FILE_STORE_H_
