// quillpost-cli list, show, mark, delete, folders and contacts: the saved
// account's mailbox, from the store; show fetches what is not held yet.
#include <algorithm>
#include <optional>

#include "commands/body_message.h"
#include "html/html_text_extractor.h"
#include "platform/utf.h"
#include "tools/cli/command_groups.h"
#include "tools/cli/text_fields.h"

namespace quill {
namespace cli {
namespace {

int List(Invocation& run) {
  const std::vector<std::string>& command = run.command();
  uint32_t folder = store::kAllFolders;
  for (size_t i = 1; i < command.size(); ++i) {
    const std::string& a = command[i];
    if (a == "--unread") {
      folder = store::kUnreadView;
    } else if (a == "--folder" && i + 1 < command.size()) {
      if (!ParseU32(command[++i], &folder)) {
        run.err() << "quillpost-cli: bad folder " << command[i] << "\n";
        return kExitUsage;
      }
    } else {
      return run.Usage();
    }
  }
  if (!run.OpenSaved()) return kExitFailed;
  store::MailStore* mails = run.service()->store()->mails();
  const std::vector<store::ViewEntry>& view = mails->View(folder);
  for (auto it = view.rbegin(); it != view.rend(); ++it) {
    store::MailRecord mail;
    if (!mails->ReadMail(it->mail_id, &mail)) continue;
    run.out() << it->mail_id << '\t' << FormatDate(mail.date()) << '\t' << Field(mail.sender)
              << '\t' << Field(mail.subject) << '\t' << (mail.unread() ? "unread" : "read")
              << '\n';
  }
  return kExitOk;
}

// Waits for one fetch event after `start` returned true; *fetched (when
// given) gets it.
bool FetchOnce(Invocation& run, bool brief, const std::function<bool()>& start,
               facade::FetchOutcome* fetched = nullptr) {
  facade::MailService* service = run.service();
  std::optional<facade::FetchOutcome> outcome;
  auto handler = [&](const facade::FetchOutcome& done) { outcome = done; };
  const int id = brief ? service->SubscribeBriefDone(handler) : service->SubscribeBodyDone(handler);
  const bool ok = start() && run.WaitFor([&] { return outcome.has_value(); });
  if (brief) {
    service->UnsubscribeBriefDone(id);
  } else {
    service->UnsubscribeBodyDone(id);
  }
  if (!ok || !outcome->ok) {
    run.err() << "quillpost-cli: the mail could not be fetched";
    if (outcome.has_value()) run.err() << " (" << outcome->code << ")";
    run.err() << "\n";
    return false;
  }
  if (fetched != nullptr) *fetched = *outcome;
  return true;
}

}  // namespace

bool HoldWholeBody(Invocation& run, uint32_t mail_id) {
  facade::MailService* service = run.service();
  store::MailStore* mails = service->store()->mails();
  store::MailRecord mail;
  if (!mails->ReadMail(mail_id, &mail)) return false;
  const bool local = mail.server_id() == store::kLocalServerId;
  if (!local && mail.body_state() != store::kBodyComplete) {
    if (!run.SignInSaved()) return false;
    if (mail.body_state() == store::kNoBody &&
        !FetchOnce(run, /*brief=*/true, [&] { return service->DoGetMailBrief(mail_id); })) {
      return false;
    }
    // The rest of the body, slice after slice, while each one adds text.
    bool from_start = false;  // the body changed under the held text
    for (int round = 0; round < 1000; ++round) {
      if (!mails->ReadMail(mail_id, &mail)) return false;
      if (mail.body_state() != store::kBodyIncomplete) break;
      const uint32_t held = from_start ? 0 : mail.local_body_length();
      facade::FetchOutcome fetched;
      if (!FetchOnce(
              run, /*brief=*/false,
              [&] {
                return service->DoGetMailBody(mail_id, static_cast<int32_t>(held),
                                              mail.body_version());
              },
              &fetched)) {
        return false;
      }
      // A changed version restarts the text from 0, so it may hold less
      // than before and still be progress.
      store::MailRecord after;
      if (!mails->ReadMail(mail_id, &after)) break;
      const bool progress = after.body_state() != store::kBodyIncomplete ||
                            after.local_body_length() != mail.local_body_length() ||
                            after.body_version() != mail.body_version();
      if (progress) {
        from_start = false;
        continue;
      }
      // Told the body changed, with the held text kept: once from 0.
      if (fetched.code == commands::kBodyVersionChanged && !from_start) {
        from_start = true;
        continue;
      }
      break;  // no progress: show what is held
    }
  }
  return true;
}

namespace {

int Show(Invocation& run) {
  const std::vector<std::string>& command = run.command();
  const uint32_t mail_id = command.size() == 2 ? MailIdArg(command[1]) : 0;
  if (mail_id == 0) return run.Usage();
  if (!run.OpenSaved()) return kExitFailed;
  facade::MailService* service = run.service();
  store::MailStore* mails = service->store()->mails();
  store::MailRecord mail;
  if (!mails->ReadMail(mail_id, &mail)) {
    run.err() << "quillpost-cli: no mail " << mail_id << "\n";
    return kExitFailed;
  }
  // A body held whole needs no gateway; fetching the rest does.
  const bool held = mail.server_id() == store::kLocalServerId ||
                    mail.body_state() == store::kBodyComplete;
  if (!held && !run.RequireGateway()) return kExitUsage;
  if (!HoldWholeBody(run, mail_id) || !mails->ReadMail(mail_id, &mail)) return kExitFailed;
  store::MailFiles files;
  mails->files()->LoadMailFiles(mail_id, &files);
  auto join = [](const std::vector<std::u16string>& list) {
    std::u16string text;
    for (const auto& a : list) text += (text.empty() ? u"" : u", ") + a;
    return Field(text);
  };
  run.out() << "From: " << Field(mail.sender) << "\n"
            << "To: " << join(files.to) << "\n"
            << "Cc: " << join(files.cc) << "\n"
            << "Subject: " << Field(mail.subject) << "\n"
            << "Date: " << FormatDate(mail.date()) << "\n\n"
            << Utf16ToUtf8(html::HtmlToText(files.body)) << "\n";
  return kExitOk;
}

// mark and delete: local changes, queued for the next sync.
int Change(Invocation& run) {
  const std::vector<std::string>& command = run.command();
  const bool mark = command[0] == "mark";
  const size_t want = mark ? 3 : 2;
  const uint32_t mail_id = command.size() == want ? MailIdArg(command[1]) : 0;
  if (mail_id == 0 || (mark && command[2] != "read" && command[2] != "unread")) {
    return run.Usage();
  }
  if (!run.OpenSaved()) return kExitFailed;
  store::AccountStore* store = run.service()->store();
  if (!store->mails()->Contains(mail_id)) {
    run.err() << "quillpost-cli: no mail " << mail_id << "\n";
    return kExitFailed;
  }
  const bool ok = !mark                    ? store->DeleteMailsAndQueue({mail_id})
                  : command[2] == "read"   ? store->MarkRead(mail_id)
                                           : store->MarkUnread(mail_id);
  if (!ok) {
    run.err() << "quillpost-cli: mail " << mail_id << " could not be changed\n";
    return kExitFailed;
  }
  return kExitOk;
}

int Folders(Invocation& run) {
  if (run.command().size() != 1) return run.Usage();
  if (!run.OpenSaved()) return kExitFailed;
  store::AccountStore* store = run.service()->store();
  std::vector<const store::FolderRecord*> folders;
  for (const store::FolderRecord& f : store->folders()->folders()) folders.push_back(&f);
  std::sort(folders.begin(), folders.end(), [](const auto* a, const auto* b) {
    return a->folder_id() < b->folder_id();
  });
  for (const store::FolderRecord* f : folders) {
    const uint32_t id = f->folder_id();
    run.out() << id << '\t' << Field(f->name()) << '\t' << store->mails()->TotalCount(id) << '\t'
              << store->mails()->UnreadCount(id) << '\n';
  }
  return kExitOk;
}

int Contacts(Invocation& run) {
  if (run.command().size() != 1) return run.Usage();
  if (!run.OpenSaved()) return kExitFailed;
  for (const std::u16string& display : run.service()->store()->address_book()->AllView()) {
    run.out() << Field(display) << '\n';
  }
  return kExitOk;
}

}  // namespace

std::vector<CommandEntry> MailboxCommands() {
  using Needs = CommandEntry::Needs;
  return {
      {"list",
       "  list [--folder ID] [--unread]\n"
       "                           one line per mail, newest first: MailID, date, sender,\n"
       "                           subject, read or unread (tab-separated)\n",
       Needs::kStore, List},
      {"show",
       "  show MAILID              From:, To:, Cc:, Subject:, Date: lines, a blank line and the\n"
       "                           body as plain text, fetching what is not held yet\n",
       Needs::kStore, Show},
      {"mark", "  mark MAILID read|unread  mark a mail; the next sync tells the service\n",
       Needs::kStore, Change},
      {"delete", "  delete MAILID            delete a mail; the next sync tells the service\n",
       Needs::kStore, Change},
      {"folders",
       "  folders                  one line per folder: FolderID, name, mails, unread mails\n"
       "                           (tab-separated)\n",
       Needs::kStore, Folders},
      {"contacts",
       "  contacts                 one line per contact of the address book, by name:\n"
       "                           \"name\"<address>\n",
       Needs::kStore, Contacts},
  };
}

}  // namespace cli
}  // namespace quill
