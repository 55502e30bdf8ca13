// quillpost-cli send and outbox: writing mail. send saves the mail as a
// local mail first, so a failed delivery loses nothing, then delivers it;
// send --resume delivers a saved local mail again (from where the service
// stands when an earlier attempt got a key); outbox lists the local mails.
#include <climits>
#include <cstdlib>
#include <optional>

#include "commands/long_mail_job.h"
#include "platform/utf.h"
#include "store/attachment_limits.h"
#include "tools/cli/command_groups.h"
#include "tools/cli/text_fields.h"

namespace quill {
namespace cli {
namespace {

// A recipient as typed: "Name <address>", "\"Name\"<address>" or an address.
std::u16string DisplayAddress(const std::string& typed) {
  std::u16string name, address;
  store::AddressBook::SplitDisplayAddress(Utf8ToUtf16(typed), &name, &address);
  return u"\"" + name + u"\"<" + address + u">";
}

// The text a progress report shows.
std::string StageText(const commands::LongMailProgress& p) {
  const std::string file = p.file_name.substr(p.file_name.find_last_of('/') + 1);
  switch (p.stage) {
    case commands::kStageConnecting: return "正在连接服务器...";
    case commands::kStageResuming: return "正在获取续传信息...";
    case commands::kStageDescribing: return "正在上传内容索引...";
    case commands::kStageScanning: return "正在扫描附件（" + file + "）...";
    case commands::kStageBody: return "正在上传邮件正文...";
    case commands::kStageHeader: return "正在上传邮件头信息...";
    case commands::kStageAttachment: return "正在上传附件（" + file + "）...";
    default: return "正在发送邮件...";
  }
}

// Delivers a saved local mail and reports as send does.
int Deliver(Invocation& run, uint32_t mail_id) {
  facade::MailService* service = run.service();
  std::ostream& err = run.err();
  std::optional<commands::LongMailOutcome> done;
  const int progress = service->SubscribeLongMailProgress([&](const commands::LongMailProgress& p) {
    if (p.mail_id != mail_id) return;
    err << "send: " << StageText(p) << " " << p.percent / 100 << "%\n";
  });
  const int ended = service->SubscribeLongMailDone(
      [&](const commands::LongMailOutcome& o, uint32_t id) {
        if (id == mail_id) done = o;
      });
  const bool started = service->DoDelvLongMail(mail_id, /*compose_mode=*/1);
  const bool answered = started && run.WaitFor([&] { return done.has_value(); });
  service->UnsubscribeLongMailProgress(progress);
  service->UnsubscribeLongMailDone(ended);
  if (!started) {
    err << "quillpost-cli: mail " << mail_id << " is no local mail, or is being sent\n";
    return kExitFailed;
  }
  if (!answered) {
    err << "quillpost-cli: no answer within " << run.options().timeout_seconds << " s\n";
    return kExitFailed;
  }
  if (!done->ok) {
    err << "发送失败[" << done->step << "," << done->code << "]";
    if (!done->text.empty()) err << "(服务器提示：" << Utf16ToUtf8(done->text) << ")";
    err << "\nquillpost-cli: mail " << mail_id << " stays in the outbox (send --resume "
        << mail_id << ")\n";
    return kExitFailed;
  }
  run.out() << done->server_id << "\n";
  return kExitOk;
}

bool ReadBodyFile(Invocation& run, const std::string& path, std::u16string* body) {
  Bytes bytes;
  if (!run.fs()->ReadFile(path, &bytes)) {
    run.err() << "quillpost-cli: cannot read " << path << "\n";
    return false;
  }
  *body = Utf8ToUtf16(std::string(bytes.begin(), bytes.end()));
  return true;
}

int Send(Invocation& run) {
  const std::vector<std::string>& c = run.command();
  if (c.size() == 3 && c[1] == "--resume") {
    const uint32_t mail_id = MailIdArg(c[2]);
    if (mail_id == 0) return run.Usage();
    if (!run.SignInSaved()) return kExitFailed;
    return Deliver(run, mail_id);
  }
  store::LocalMail mail;
  mail.for_sending = true;
  bool have_subject = false, have_body = false;
  std::vector<std::string> attach;
  for (size_t i = 1; i < c.size(); ++i) {
    if (i + 1 >= c.size()) return run.Usage();
    const std::string& flag = c[i];
    const std::string& value = c[++i];
    if (flag == "--to") {
      mail.to.push_back(DisplayAddress(value));
    } else if (flag == "--cc") {
      mail.cc.push_back(DisplayAddress(value));
    } else if (flag == "--bcc") {
      mail.bcc.push_back(DisplayAddress(value));
    } else if (flag == "--subject" && !have_subject) {
      mail.subject = Utf8ToUtf16(value);
      have_subject = true;
    } else if (flag == "--body" && !have_body) {
      mail.body = Utf8ToUtf16(value);
      have_body = true;
    } else if (flag == "--body-file" && !have_body) {
      if (!ReadBodyFile(run, value, &mail.body)) return kExitFailed;
      have_body = true;
    } else if (flag == "--attach") {
      attach.push_back(value);
    } else {
      return run.Usage();
    }
  }
  if (mail.to.empty() || !have_subject || !have_body) return run.Usage();
  for (const std::string& path : attach) {
    char full[PATH_MAX];
    const std::string absolute = realpath(path.c_str(), full) != nullptr ? full : path;
    store::AttachmentEntry entry;
    size_t duplicate = 0;
    const store::AttachmentCheck check = store::CheckNewAttachment(
        run.fs(), mail.attachments, Utf8ToUtf16(absolute), &entry, &duplicate);
    if (check != store::AttachmentCheck::kOk) {
      run.err() << "quillpost-cli: " << path << ": "
                << Utf16ToUtf8(store::AttachmentCheckMessage(check)) << "\n";
      return kExitFailed;
    }
    mail.attachments.push_back(entry);
  }
  if (!run.OpenSaved()) return kExitFailed;
  uint32_t mail_id = 0;
  if (!run.service()->store()->SaveLocalMail(mail, &mail_id)) {
    run.err() << "quillpost-cli: the mail could not be saved\n";
    return kExitFailed;
  }
  run.err() << "send: saved as local mail " << mail_id << "\n";
  if (!run.SignInSaved()) return kExitFailed;
  return Deliver(run, mail_id);
}

int Outbox(Invocation& run) {
  if (run.command().size() != 1) return run.Usage();
  if (!run.OpenSaved()) return kExitFailed;
  store::MailStore* mails = run.service()->store()->mails();
  const std::vector<store::ViewEntry>& view = mails->View(store::kLocalFolder);
  for (auto it = view.rbegin(); it != view.rend(); ++it) {
    store::MailRecord mail;
    store::MailFiles files;
    if (!mails->ReadMail(it->mail_id, &mail) || mail.server_id() != store::kLocalServerId) continue;
    mails->files()->LoadMailFiles(it->mail_id, &files, /*with_body=*/false);
    std::u16string to;
    for (const std::u16string& t : files.to) to += (to.empty() ? u"" : u", ") + t;
    run.out() << it->mail_id << '\t' << FormatDate(mail.date()) << '\t' << Field(to) << '\t'
              << Field(mail.subject) << '\t' << files.attachments.size() << " attachments\t"
              << (files.send_key.empty() ? "not sent" : "partly sent") << '\n';
  }
  return kExitOk;
}

}  // namespace

std::vector<CommandEntry> SendCommands() {
  using Needs = CommandEntry::Needs;
  return {
      {"send",
       "  send --to ADDR [--to ADDR]... [--cc ADDR]... [--bcc ADDR]... --subject TEXT\n"
       "       (--body TEXT | --body-file FILE) [--attach FILE]...\n"
       "                           save the mail as a local mail and send it; progress on\n"
       "                           stderr, the new ServerID on stdout\n"
       "  send --resume MAILID     send a saved local mail again\n",
       Needs::kNetwork, Send},
      {"outbox",
       "  outbox                   the local mails: MailID, date, To, subject, attachments,\n"
       "                           \"not sent\" or \"partly sent\" (a delivery to resume)\n",
       Needs::kStore, Outbox},
  };
}

}  // namespace cli
}  // namespace quill
