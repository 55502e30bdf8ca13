#include "store/mail_file_store.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "platform/crypto.h"
#include "platform/hex.h"
#include "platform/last_error.h"
#include "platform/utf.h"

namespace quill {
namespace store {
namespace {

constexpr char kAttachmentsDir[] = "Attachments";
constexpr char kBodyFile[] = "mail.txt";
constexpr char kStagedSuffix[] = ".new";
constexpr char kStampFile[] = "stamp.new";

std::vector<std::u16string> SplitList(const std::u16string& text) {
  std::vector<std::u16string> out;
  if (text.empty()) return out;
  size_t start = 0;
  while (true) {
    size_t nl = text.find(u'\n', start);
    out.push_back(text.substr(start, nl == std::u16string::npos ? nl : nl - start));
    if (nl == std::u16string::npos) return out;
    start = nl + 1;
  }
}

std::u16string JoinList(const std::vector<std::u16string>& list) {
  std::u16string out;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) out += u'\n';
    out += list[i];
  }
  return out;
}

Bytes Utf16Le(const std::u16string& text) {
  Bytes out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

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

void MailFileStore::ListMailDirs(std::vector<uint32_t>* ids) {
  ids->clear();
  std::vector<std::string> names;
  for (uint32_t bucket = 0; bucket < 100; ++bucket) {
    if (!fs_->ListPrefix(base_ + TwoDigits(bucket), "", &names)) continue;
    for (const std::string& name : names) {
      if (name.empty() || name.size() > 10 || name[0] == '0' ||
          name.find_first_not_of("0123456789") != std::string::npos) {
        continue;
      }
      const uint64_t id = std::stoull(name);
      if (id <= UINT32_MAX && id % 100 == bucket) ids->push_back(static_cast<uint32_t>(id));
    }
  }
}

bool MailFileStore::ReadText(const std::string& path, bool utf16, std::u16string* out) {
  out->clear();
  Bytes bytes;
  if (!fs_->ReadFile(path, &bytes)) return false;
  if (!utf16) {
    *out = Utf8ToUtf16(ByteView(bytes).ToString());
    return true;
  }
  out->reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {  // an odd last byte is dropped
    out->push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return true;
}

bool MailFileStore::WriteText(const std::string& path, const std::u16string& text, bool utf16) {
  if (utf16) return fs_->ReplaceAtomically(path, ByteView(Utf16Le(text)));
  return fs_->ReplaceAtomically(path, ByteView(Utf16ToUtf8(text)));
}

std::vector<std::pair<const char*, Bytes>> MailFileStore::Encode(const MailFiles& files) {
  auto utf8 = [](const std::u16string& text) {
    const std::string s = Utf16ToUtf8(text);
    return Bytes(s.begin(), s.end());
  };
  std::vector<std::pair<const char*, Bytes>> out;
  out.emplace_back(kBodyFile, Utf16Le(files.body));
  out.emplace_back("brief.txt", utf8(files.brief));
  out.emplace_back("tos.txt", utf8(JoinList(files.to)));
  out.emplace_back("ccs.txt", utf8(JoinList(files.cc)));
  out.emplace_back("bcc.txt", utf8(JoinList(files.bcc)));
  out.emplace_back("sender.txt", utf8(files.sender));
  out.emplace_back("subject.txt", utf8(files.subject));
  const std::string attachments = FormatAttachmentList(files.attachments);
  out.emplace_back("attachs.txt", Bytes(attachments.begin(), attachments.end()));
  out.emplace_back("sendmailid.txt", utf8(files.send_key));
  return out;
}

bool MailFileStore::LoadMailFiles(uint32_t mail_id, MailFiles* files, bool with_body) {
  *files = MailFiles();
  if (mail_id == 0) return false;
  files->mail_id = mail_id;
  const std::string dir = MailDir(mail_id);
  std::u16string to, cc, bcc, attachments;
  bool any = false;
  if (with_body) any |= ReadText(dir + kBodyFile, true, &files->body);
  any |= ReadText(dir + "brief.txt", false, &files->brief);
  any |= ReadText(dir + "tos.txt", false, &to);
  any |= ReadText(dir + "ccs.txt", false, &cc);
  any |= ReadText(dir + "bcc.txt", false, &bcc);
  any |= ReadText(dir + "sender.txt", false, &files->sender);
  any |= ReadText(dir + "subject.txt", false, &files->subject);
  any |= ReadText(dir + "attachs.txt", false, &attachments);
  any |= ReadText(dir + "sendmailid.txt", false, &files->send_key);
  files->to = SplitList(to);
  files->cc = SplitList(cc);
  files->bcc = SplitList(bcc);
  files->attachments = ParseFileAttachmentList(Utf16ToUtf8(attachments));
  return any;
}

bool MailFileStore::ReadBody(uint32_t mail_id, uint64_t offset, size_t max_units,
                             std::u16string* out) {
  out->clear();
  if (mail_id == 0 || offset > UINT64_MAX / 2) return false;
  std::unique_ptr<File> file =
      fs_->OpenRaw(MailDir(mail_id) + kBodyFile, FileSystem::OpenMode::kRead, 0);
  uint64_t size = 0;
  if (file == nullptr || !file->Size(&size)) return false;
  if (offset >= size / 2) return true;
  const uint64_t units = std::min<uint64_t>(max_units, size / 2 - offset);
  Bytes bytes(static_cast<size_t>(units * 2));
  size_t got = 0;
  if (!file->ReadAt(offset * 2, bytes.data(), bytes.size(), &got)) return false;
  out->resize(got / 2);
  for (size_t i = 0; i < out->size(); ++i) {
    (*out)[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return true;
}

bool MailFileStore::MakeMailDir(uint32_t mail_id) {
  const std::string dir = MailDir(mail_id);
  const std::string path = dir.substr(0, dir.size() - 1);
  if (fs_->Exists(path)) return true;
  const std::string bucket = DirName(path);
  const bool new_bucket = !fs_->Exists(bucket);
  return fs_->MakeDirs(path) && fs_->SyncDir(bucket) && (!new_bucket || fs_->SyncDir(DirName(bucket)));
}

bool MailFileStore::SaveMailFiles(uint32_t mail_id, const MailFiles& files) {
  if (mail_id == 0 || !MakeMailDir(mail_id)) return false;
  const std::string dir = MailDir(mail_id);
  bool all = true;
  for (const auto& [name, bytes] : Encode(files)) {
    all = fs_->ReplaceAtomically(dir + name, ByteView(bytes)) && all;
  }
  return all;
}

std::vector<std::string> MailFileStore::StagedNames(const std::string& dir) {
  std::vector<std::string> names, staged;
  if (!fs_->ListPrefix(dir, "", &names)) return staged;
  for (const std::string& name : names) {
    if (name != kStampFile && name.size() > 4 && name.compare(name.size() - 4, 4, kStagedSuffix) == 0) {
      staged.push_back(name);
    }
  }
  if (std::find(names.begin(), names.end(), kStampFile) != names.end()) staged.push_back(kStampFile);
  return staged;
}

bool MailFileStore::StageMailFiles(uint32_t mail_id, const MailFiles& files, uint64_t stamp) {
  if (mail_id == 0) return false;
  const std::string dir = MailDir(mail_id);
  if (!MakeMailDir(mail_id)) return false;
  DiscardStagedFiles(mail_id);
  auto write = [&](const std::string& path, const Bytes& bytes) {
    std::unique_ptr<File> f = fs_->Open(path, FileSystem::OpenMode::kCreate);
    return f && f->WriteAt(0, bytes.data(), bytes.size()) && f->Truncate(bytes.size()) && f->Sync();
  };
  bool ok = true;
  for (const auto& [name, bytes] : Encode(files)) {
    ok = ok && write(dir + name + kStagedSuffix, bytes);
  }
  const std::string stamp_text = std::to_string(stamp);
  ok = ok && write(dir + kStampFile, Bytes(stamp_text.begin(), stamp_text.end()));
  // The directory entries, up to the account's own, are durable too.
  std::string d = dir.substr(0, dir.size() - 1);
  for (int level = 0; ok && level < 4 && !d.empty(); ++level, d = DirName(d)) ok = fs_->SyncDir(d);
  if (!ok) DiscardStagedFiles(mail_id);
  return ok;
}

bool MailFileStore::InstallStagedFiles(uint32_t mail_id) {
  if (mail_id == 0) return false;
  const std::string dir = MailDir(mail_id);
  bool ok = true;
  for (const std::string& name : StagedNames(dir)) {
    if (name == kStampFile) continue;
    ok = fs_->Rename(dir + name, dir + name.substr(0, name.size() - 4)) && ok;
  }
  // The stamp goes last, once the renames are durable: until then opening
  // finishes the installation.
  return ok && fs_->SyncDir(dir.substr(0, dir.size() - 1)) && fs_->Delete(dir + kStampFile);
}

void MailFileStore::DiscardStagedFiles(uint32_t mail_id) {
  if (mail_id == 0) return;
  const std::string dir = MailDir(mail_id);
  for (const std::string& name : StagedNames(dir)) fs_->Delete(dir + name);
}

void MailFileStore::RecoverStagedFiles(uint32_t mail_id, uint64_t record_stamp) {
  if (mail_id == 0) return;
  Bytes stamp;
  if (!fs_->ReadFile(MailDir(mail_id) + kStampFile, &stamp)) {
    DiscardStagedFiles(mail_id);  // a stage that never finished
    return;
  }
  if (ByteView(stamp).ToString() == std::to_string(record_stamp)) {
    InstallStagedFiles(mail_id);
  } else {
    DiscardStagedFiles(mail_id);
  }
}

bool MailFileStore::WriteBody(uint32_t mail_id, const std::u16string& text, uint64_t offset) {
  if (mail_id == 0 || offset > UINT64_MAX / 2 || !MakeMailDir(mail_id)) return false;
  std::unique_ptr<File> f = fs_->Open(MailDir(mail_id) + kBodyFile, FileSystem::OpenMode::kCreate);
  uint64_t size = 0;
  if (!f || !f->Size(&size)) return false;
  const uint64_t at = offset * 2;
  if (at > size) return false;  // a gap would be garbage characters
  const Bytes bytes = Utf16Le(text);
  return f->WriteAt(at, bytes.data(), bytes.size()) && f->Truncate(at + bytes.size()) && f->Sync();
}

bool MailFileStore::SaveSendKey(uint32_t mail_id, const std::u16string& key) {
  return mail_id != 0 && MakeMailDir(mail_id) && WriteText(MailDir(mail_id) + "sendmailid.txt", key, false);
}

bool MailFileStore::DeleteSendKey(uint32_t mail_id) {
  if (mail_id == 0) return false;
  const std::string path = MailDir(mail_id) + "sendmailid.txt";
  return !fs_->Exists(path) || (fs_->Delete(path) && fs_->SyncDir(MailDir(mail_id)));
}

bool MailFileStore::IsSafeFileName(const std::u16string& name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F || c == u'/' || c == u'\\') return false;
  }
  return true;
}

std::string MailFileStore::SafeFileName(const std::u16string& name) {
  std::u16string safe = name;
  for (char16_t& c : safe) {
    if (c < 0x20 || c == 0x7F || c == u'/' || c == u'\\') c = u'_';
  }
  std::string utf8 = Utf16ToUtf8(safe);
  if (safe == name && utf8.size() <= kMaxSafeNameBytes) return utf8;
  // Changed or cut: a digest of the whole name keeps names apart that now
  // read the same.
  uint8_t digest[16];
  crypto::Md5(ByteView(Utf16ToUtf8(name)), digest);
  return std::string(CutUtf8(utf8, kMaxSafeNameBytes)) + "~" + HexEncode(ByteView(digest, 4));
}

std::string MailFileStore::AttachmentPath(uint32_t mail_id, uint32_t server_id,
                                          const std::u16string& name) const {
  if (mail_id == 0 || name.empty()) return std::string();
  // The ServerID as the device's 32-bit "%ld" prints it. With it in front
  // the name is never "." or "..".
  const int32_t printed = static_cast<int32_t>(server_id);
  return MailDir(mail_id) + kAttachmentsDir + "/" + std::to_string(printed) + "_" +
         SafeFileName(name);
}

}  // namespace store
}  // namespace quill
