#include "facade/mail_fetch_store.h"

#include "engine/trace.h"
#include "platform/utf.h"
#include "store/mail_record.h"

namespace quill {
namespace facade {
namespace {

// A text from the service as one line: the per-mail files keep one entry
// per line, so a CR, LF, NUL or other control character in a name would
// split it or inject an entry. Each becomes a space.
std::u16string OneLine(const std::string& utf8) {
  std::u16string text = Utf8ToUtf16(utf8);
  for (char16_t& c : text) {
    if (c < 0x20 || c == 0x7F) c = u' ';
  }
  return text;
}

std::u16string Display(const commands::BriefAddress& a) {
  return u"\"" + OneLine(a.name) + u"\"<" + OneLine(a.address) + u">";
}

std::vector<std::u16string> Displays(const std::vector<commands::BriefAddress>& list) {
  std::vector<std::u16string> out;
  for (const auto& a : list) out.push_back(Display(a));
  return out;
}

uint16_t Clamp16(int32_t v) { return static_cast<uint16_t>(v < 0 ? 0 : (v > 0xFFFF ? 0xFFFF : v)); }

void SetLengths(store::MailRecord* m, uint32_t server, uint32_t held) {
  m->set_server_body_length(server);
  m->set_local_body_length(held);
  m->set_body_state(server > held ? store::kBodyIncomplete : store::kBodyComplete);
}

}  // namespace

bool StoreBrief(store::AccountStore* store, uint32_t mail_id, const commands::BriefResponse& brief) {
  store::MailStore* mails = store->mails();
  store::MailRecord record;
  if (!mails->ReadMail(mail_id, &record)) return false;
  record.subject = OneLine(brief.subject);
  record.sender = Display(brief.sender);
  record.MarkTextsChanged();
  record.set_to_count(Clamp16(brief.to_total));
  record.set_cc_count(Clamp16(brief.cc_total));
  record.set_attach_count(Clamp16(brief.attachment_total));

  store::MailFiles files;
  mails->files()->LoadMailFiles(mail_id, &files);  // keeps what a brief does not carry
  files.mail_id = mail_id;
  files.to = Displays(brief.to);
  files.cc = Displays(brief.cc);
  files.attachments.clear();
  for (const auto& a : brief.attachments) {
    files.attachments.push_back(store::AttachmentEntry{
        OneLine(a.name), static_cast<uint64_t>(a.size < 0 ? 0 : a.size),
        static_cast<uint32_t>(a.kind)});
  }
  std::vector<std::u16string> addresses = files.to;
  addresses.insert(addresses.end(), files.cc.begin(), files.cc.end());
  store->address_book()->AddUnknownAddresses(addresses);

  // More of the same body version than the brief carries stays.
  const std::u16string brief_text = Utf8ToUtf16(brief.brief_text);
  const bool keep_body = record.body_state() != store::kNoBody &&
                         record.body_version() == static_cast<uint16_t>(brief.body_version) &&
                         files.body.size() >= brief_text.size();
  if (!keep_body) {
    files.body = brief_text;
    record.set_body_version(static_cast<uint16_t>(brief.body_version));
    SetLengths(&record, static_cast<uint32_t>(brief.body_length),
               static_cast<uint32_t>(files.body.size()));
  }
  // Files first: a record that says "body held" always has its file.
  return mails->files()->SaveMailFiles(mail_id, files) && mails->WriteMail(mail_id, &record);
}

bool StoreBodySlice(store::AccountStore* store, uint32_t mail_id, int32_t asked_offset,
                    const commands::BodyResponse& body) {
  store::MailStore* mails = store->mails();
  store::MailFileStore* files = mails->files();
  store::MailRecord record;
  if (!mails->ReadMail(mail_id, &record) || asked_offset < 0) return false;
  const uint16_t state = record.body_state();
  if (state == store::kBodyComplete || state == 3) return true;  // nothing to add
  const std::u16string text = Utf8ToUtf16(body.text);
  const uint32_t offset = static_cast<uint32_t>(asked_offset);

  if (body.head.result == commands::kBodyVersionChanged || state == store::kNoBody) {
    // The whole body anew; only a text that starts at 0 can be one.
    if (body.offset != 0 || (body.head.result == 0 && offset != 0)) {
      if (body.head.result == 0) return false;
      // The held body stays for reading offline; the caller, told -7, asks
      // again from 0.
      engine::WriteLog(engine::kMailLog,
                       "server said body version has changed, but given offset is not zero", 0, 0);
      return true;
    }
    if (!files->WriteBody(mail_id, text, 0)) return false;
    record.set_body_version(static_cast<uint16_t>(body.body_version));
    SetLengths(&record, static_cast<uint32_t>(body.body_length), static_cast<uint32_t>(text.size()));
    return mails->WriteMail(mail_id, &record);
  }
  if (state == store::kBodyIncomplete) {
    // The brief text is held: the slice continues it, and only a slice
    // that starts where the held text ends does, or one from 0.
    if ((offset != 0 && offset != record.local_body_length()) || body.offset != asked_offset) {
      return false;
    }
    if (!files->WriteBody(mail_id, text, offset)) return false;
    // A text from 0 is the whole body of the version the answer names.
    if (offset == 0) record.set_body_version(static_cast<uint16_t>(body.body_version));
    SetLengths(&record, offset == 0 ? static_cast<uint32_t>(body.body_length)
                                    : record.server_body_length(),
               offset + static_cast<uint32_t>(text.size()));
    return mails->WriteMail(mail_id, &record);
  }
  // State 1: the held text, cut to the offset asked, then the slice.
  store::MailFiles held;
  files->LoadMailFiles(mail_id, &held);
  std::u16string whole = held.body.substr(0, std::min<size_t>(held.body.size(), offset));
  whole += text;
  if (!files->WriteBody(mail_id, whole, 0)) return false;
  SetLengths(&record, record.server_body_length(), static_cast<uint32_t>(whole.size()));
  return mails->WriteMail(mail_id, &record);
}

}  // namespace facade
}  // namespace quill
