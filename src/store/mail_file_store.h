// The per-mail directories of one account: MailID modulo 100 as two digits,
// then the MailID ("07/7/", "34/1234/") under the account directory, and
// the files in them: "mail.txt" (the body, UTF-16LE, character n at byte
// 2n), "brief.txt", "tos.txt", "ccs.txt", "bcc.txt" (display addresses
// joined by "\n"), "sender.txt", "subject.txt", "attachs.txt" and
// "sendmailid.txt" (UTF-8), and fetched attachments in "Attachments/".
//
// Whole-file writes replace the file atomically. Names that come from the
// service never leave the mail's directory. A mail's directory (and its
// bucket) is made durable when it is created, before any file in it is
// written, so a record committed after its files never loses them.
//
// A mail written on the device is saved as one set, so that a crash leaves
// its old files or its new ones, never a mix: StageMailFiles writes every
// file as its name + ".new", then "stamp.new" holding the stamp of the
// record that goes with them, all synced with the directories above them;
// once that record is committed, InstallStagedFiles renames the set into
// place and removes the stamp. RecoverStagedFiles, when the store opens,
// installs a staged set whose stamp is the record's and discards any other.
//
// Thread safety: none; UI thread only.
#ifndef QUILL_STORE_MAIL_FILE_STORE_H_
#define QUILL_STORE_MAIL_FILE_STORE_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "store/attachment_entry.h"

namespace quill {
namespace store {

// The in-memory form of one mail's directory.
struct MailFiles {
  std::vector<std::u16string> to;             // "tos.txt", display addresses
  std::vector<std::u16string> cc;             // "ccs.txt"
  std::vector<std::u16string> bcc;            // "bcc.txt"
  std::u16string body;                        // "mail.txt"
  std::u16string brief;                       // "brief.txt"
  std::u16string sender;                      // "sender.txt", a display address
  std::u16string subject;                     // "subject.txt"
  std::u16string send_key;                    // "sendmailid.txt", the delivery's key
  std::vector<AttachmentEntry> attachments;   // "attachs.txt"
  uint32_t mail_id = 0;                       // whose files these are
};

class MailFileStore {
 public:
  // fs must outlive this object.
  explicit MailFileStore(FileSystem* fs) : fs_(fs) {}

  // The account directory, ending in '/'.
  void SetBase(const std::string& account_dir) { base_ = account_dir; }
  const std::string& base() const { return base_; }

  // The mail's directory with its trailing '/'; "" for MailID 0.
  std::string MailDir(uint32_t mail_id) const;

  // Empties files, then reads every file of the mail ("mail.txt" only when
  // with_body is set). True when at least one file was read (missing files
  // leave their fields empty).
  bool LoadMailFiles(uint32_t mail_id, MailFiles* files, bool with_body = true);
  // Reads at most max_units characters of "mail.txt" from character
  // `offset` (nothing past its end), so a reader can show the beginning of
  // a long body without reading all of it. False when the file cannot be
  // read.
  bool ReadBody(uint32_t mail_id, uint64_t offset, size_t max_units, std::u16string* out);
  // Replaces every file of the mail. True only when every file was written
  // (the others are written all the same).
  bool SaveMailFiles(uint32_t mail_id, const MailFiles& files);
  // Writes text into "mail.txt" at character offset and cuts the file after
  // it. Refused when offset is past the current end.
  bool WriteBody(uint32_t mail_id, const std::u16string& text, uint64_t offset);
  bool SaveSendKey(uint32_t mail_id, const std::u16string& key);
  // Deletes "sendmailid.txt" (a delivery that ended); a missing file is
  // success.
  bool DeleteSendKey(uint32_t mail_id);
  // See above. Stage and install are true only when every file was
  // written; a failed stage leaves no staged file behind.
  bool StageMailFiles(uint32_t mail_id, const MailFiles& files, uint64_t stamp);
  bool InstallStagedFiles(uint32_t mail_id);
  void DiscardStagedFiles(uint32_t mail_id);
  void RecoverStagedFiles(uint32_t mail_id, uint64_t record_stamp);
  // Names from the service are cut to this many bytes in file names.
  static constexpr size_t kMaxSafeNameBytes = 200;

  // "<mail dir>Attachments/<ServerID>_<safe name>"; "" for MailID 0 or an
  // empty name.
  std::string AttachmentPath(uint32_t mail_id, uint32_t server_id, const std::u16string& name) const;
  // Whether a name can be a file name as it is: not empty, "." or "..", and
  // without a separator, NUL or control character.
  static bool IsSafeFileName(const std::u16string& name);
  // The name as one file name (UTF-8): separators and control characters
  // become '_'; a name that changed, or was cut to kMaxSafeNameBytes, ends
  // in "~" and 8 hex digits of a digest of the whole name.
  static std::string SafeFileName(const std::u16string& name);

  // Deletes every file of the mail's directory and of its "Attachments"
  // directory; the directories stay. Stops at the first file that cannot be
  // deleted. A missing directory is success.
  bool DeleteMailFiles(uint32_t mail_id);
  // The MailIDs that have a per-mail directory, in no order.
  void ListMailDirs(std::vector<uint32_t>* ids);

 private:
  // Every file of a MailFiles: its name and its bytes.
  static std::vector<std::pair<const char*, Bytes>> Encode(const MailFiles& files);
  bool DeleteFilesIn(const std::string& dir);
  // Creates the mail's directory when missing, with durable entries.
  bool MakeMailDir(uint32_t mail_id);
  // The staged files of a directory (names ending in ".new"), stamp last.
  std::vector<std::string> StagedNames(const std::string& dir);
  bool ReadText(const std::string& path, bool utf16, std::u16string* out);
  bool WriteText(const std::string& path, const std::u16string& text, bool utf16);

  FileSystem* const fs_;
  std::string base_;  // account directory, ends in '/'
};

}  // namespace store
}  // namespace quill

#endif  // QUILL_STORE_MAIL_FILE_STORE_H_
