#include "tools/cli/cli.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <functional>
#include <climits>
#include <memory>
#include <optional>
#include <ctime>

#include "commands/auth_job.h"
#include "engine/connection_backend.h"
#include "facade/mail_service.h"
#include "facade/sync_applier.h"
#include "html/html_text_extractor.h"
#include "platform/crypto.h"
#include "platform/device_id_source.h"
#include "platform/file_system.h"
#include "platform/hex.h"
#include "platform/message_loop.h"
#include "platform/registry_store.h"
#include "platform/utf.h"
#include "store/device_id.h"
#include "store/store_checker.h"

namespace quill {
namespace cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: quillpost-cli --data DIR [--gateway HOST:PORT] [--gateway-config FILE]\n"
    "                     [--timeout SECONDS] COMMAND ...\n"
    "commands:\n"
    "  login ACCOUNT PASSWORD   sign in (the account is saved for later commands);\n"
    "                           prints the account number, nickname and address\n"
    "  sync                     sign in with the saved account and bring the mailbox up to date;\n"
    "                           progress on stderr: one line per page received\n"
    "  list [--folder ID] [--unread]\n"
    "                           one line per mail, newest first: MailID, date, sender,\n"
    "                           subject, read or unread (tab-separated)\n"
    "  show MAILID              From:, To:, Cc:, Subject:, Date: lines, a blank line and the\n"
    "                           body as plain text, fetching what is not held yet\n"
    "  mark MAILID read|unread  mark a mail; the next sync tells the service\n"
    "  delete MAILID            delete a mail; the next sync tells the service\n"
    "  folders                  one line per folder: FolderID, name, mails, unread mails\n"
    "                           (tab-separated)\n"
    "  contacts                 one line per contact of the address book, by name:\n"
    "                           \"name\"<address>\n"
    "  check [--uin N]          check the store of every account under DIR (or of N) read-only,\n"
    "                           without a gateway: the facts and every problem found;\n"
    "                           exit status 1 when any store has a problem\n";

struct Options {
  std::string data_dir;              // --data
  std::string gateway_address;       // --gateway, empty: as configured
  std::string gateway_config;        // --gateway-config, empty: none
  int timeout_seconds = 120;         // --timeout: bound of one command
  std::vector<std::string> command;  // the command and its arguments
};

// False (with a message on err) for bad usage.
bool ParseOptions(const std::vector<std::string>& args, Options* o, std::ostream& err) {
  size_t i = 0;
  auto value = [&](const std::string& flag, std::string* out) {
    if (i + 1 >= args.size()) {
      err << "quillpost-cli: " << flag << " needs a value\n";
      return false;
    }
    *out = args[++i];
    return true;
  };
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--data") {
      if (!value(a, &o->data_dir)) return false;
    } else if (a == "--gateway") {
      if (!value(a, &o->gateway_address)) return false;
    } else if (a == "--gateway-config") {
      if (!value(a, &o->gateway_config)) return false;
    } else if (a == "--timeout") {
      std::string t;
      if (!value(a, &t)) return false;
      char* end = nullptr;
      const long seconds = std::strtol(t.c_str(), &end, 10);
      if (t.empty() || *end != '\0' || seconds <= 0 || seconds > 3600) {
        err << "quillpost-cli: bad --timeout " << t << "\n";
        return false;
      }
      o->timeout_seconds = static_cast<int>(seconds);
    } else if (a.rfind("--", 0) == 0) {
      err << "quillpost-cli: unknown option " << a << "\n";
      return false;
    } else {
      o->command.assign(args.begin() + static_cast<long>(i), args.end());
      break;
    }
  }
  if (o->data_dir.empty() || o->command.empty()) {
    err << kUsage;
    return false;
  }
  return true;
}

// The directory of the running program, with its trailing separator: it
// seeds the DeviceId as the program directory does on the handheld.
std::u16string ProgramDir() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return u"/";
  std::string p(path, static_cast<size_t>(n));
  return Utf8ToUtf16(p.substr(0, p.rfind('/') + 1));
}

// Reads the data directory's gateway.cfg (after putting --gateway-config in
// place) and applies --gateway.
bool LoadGateway(FileSystem* fs, const Options& o, engine::GatewayConfig* gateway,
                 std::ostream& err) {
  const std::string path = o.data_dir + "/" + engine::kGatewayConfigFile;
  if (!o.gateway_config.empty()) {
    Bytes bytes;
    if (!fs->ReadFile(o.gateway_config, &bytes)) {
      err << "quillpost-cli: cannot read " << o.gateway_config << "\n";
      return false;
    }
    if (!fs->MakeDirs(o.data_dir) || !fs->ReplaceAtomically(path, ByteView(bytes), 0600)) {
      err << "quillpost-cli: cannot write " << path << "\n";
      return false;
    }
  }
  const engine::GatewayConfigStatus status = engine::LoadGatewayConfig(fs, path, gateway);
  if (status != engine::GatewayConfigStatus::kOk) {
    err << "quillpost-cli: " << path << ": " << engine::GatewayConfigStatusText(status) << "\n";
    return false;
  }
  if (!o.gateway_address.empty() && !engine::ApplyGatewayAddress(o.gateway_address, gateway)) {
    err << "quillpost-cli: bad --gateway " << o.gateway_address << "\n";
    return false;
  }
  return true;
}

// Signs in and waits for the answer and for the login slot to free (at the
// job's end, just after its answer). False, with the product's text on err,
// when it failed. The account is saved for later commands.
bool SignIn(facade::MailService* service, MessageLoop* loop, const Options& o,
            const std::u16string& account, const std::u16string& password, bool user_initiated,
            commands::AuthOutcome* outcome, std::ostream& err) {
  std::optional<commands::AuthOutcome> done;
  const int id =
      service->SubscribeAuthDone([&](const commands::AuthOutcome& answer) { done = answer; });
  const bool started = service->DoAuth(service->connections().destination(), user_initiated,
                                       account, password, /*auto_login=*/true);
  const bool answered =
      started && loop->PumpUntil([&] { return done.has_value() && !service->LoginRunning(); },
                                 static_cast<uint32_t>(o.timeout_seconds) * 1000);
  service->UnsubscribeAuthDone(id);
  if (!started) {
    err << "quillpost-cli: the login could not be started\n";
    return false;
  }
  if (!answered) {
    err << "quillpost-cli: no answer within " << o.timeout_seconds << " s\n";
    return false;
  }
  if (!done->ok) {
    err << Utf16ToUtf8(commands::AuthFailureText(done->code));
    if (commands::IsNetworkFailure(done->code)) err << " (" << done->code << ")";
    err << "\n";
    return false;
  }
  *outcome = *done;
  return true;
}

int Login(facade::MailService* service, MessageLoop* loop, const Options& o, std::ostream& out,
          std::ostream& err) {
  if (o.command.size() != 3) {
    err << kUsage;
    return kExitUsage;
  }
  commands::AuthOutcome outcome;
  if (!SignIn(service, loop, o, Utf8ToUtf16(o.command[1]), PasswordDigest(o.command[2]),
              /*user_initiated=*/true, &outcome, err)) {
    return kExitFailed;
  }
  store::ConfigFile account(DefaultFileSystem());
  account.SetPath(service->account_dir() + "/account.cfg");
  out << "uin: " << outcome.uin << "\n";
  out << "nickname: " << Utf16ToUtf8(account.GetText(store::account_keys::kNickName.name, u""))
      << "\n";
  out << "address: " << Utf16ToUtf8(account.GetText(store::account_keys::kEmailAddr.name, u""))
      << "\n";
  return kExitOk;
}

// Signs in with the account the last login saved, as start-up does.
bool SignInSaved(facade::MailService* service, MessageLoop* loop, const Options& o,
                 std::ostream& err) {
  store::GlobalSettings& settings = service->settings();
  const std::u16string account = settings.Get(store::global_keys::kUinName);
  const std::u16string password = settings.Get(store::global_keys::kPwd);
  if (account.empty() || password.empty()) {
    err << "quillpost-cli: no saved account: run login first\n";
    return false;
  }
  commands::AuthOutcome outcome;
  return SignIn(service, loop, o, account, password, /*user_initiated=*/false, &outcome, err);
}

int Sync(facade::MailService* service, MessageLoop* loop, const Options& o, std::ostream& err) {
  if (o.command.size() != 1) {
    err << kUsage;
    return kExitUsage;
  }
  if (!SignInSaved(service, loop, o, err)) return kExitFailed;
  std::optional<facade::SyncOutcome> outcome;
  int new_mails = 0;
  service->SubscribeSyncDone([&](const facade::SyncOutcome& done) { outcome = done; });
  service->SubscribeNewMailArrived([&](int count) { new_mails = count; });
  if (!service->DoSync(/*reason=*/5)) {
    err << "quillpost-cli: the sync could not be started\n";
    return kExitFailed;
  }
  // Progress: one line for each further page the sync asks for.
  int pages = 0;
  service->SubscribeSyncPage([&](int) {
    err << "sync: page " << ++pages << ", " << service->store()->mails()->mail_count()
        << " mails\n";
  });
  if (!loop->PumpUntil([&] { return outcome.has_value(); },
                       static_cast<uint32_t>(o.timeout_seconds) * 1000)) {
    err << "quillpost-cli: no answer within " << o.timeout_seconds << " s\n";
    return kExitFailed;
  }
  if (!outcome->ok) {
    if (outcome->step == -2) {
      err << "quillpost-cli: the service refused the sync (" << outcome->code << ")\n";
    } else {
      err << Utf16ToUtf8(commands::AuthFailureText(outcome->code)) << " (" << outcome->code
          << ", step " << outcome->step << ")\n";
    }
    return kExitFailed;
  }
  err << "sync: " << service->store()->mails()->mail_count() << " mails, " << new_mails
      << " new\n";
  return kExitOk;
}

// Opens the store of the account the last login saved; no sign-in.
bool OpenSaved(facade::MailService* service, std::ostream& err) {
  if (service->OpenSavedAccount()) return true;
  err << "quillpost-cli: no saved account: run login first\n";
  return false;
}

// A decimal number from 0 to 4294967295, nothing else.
bool ParseU32(const std::string& text, uint32_t* out) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || v > UINT32_MAX) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

// "YYYY-MM-DD HH:MM" (UTC) of a FILETIME.
std::string FormatDate(uint64_t filetime) {
  const time_t t = static_cast<time_t>(facade::UnixSecondsOfFileTime(filetime));
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[32];
  strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
  return buf;
}

// Tabs and line breaks inside a field would break the line format.
std::string Field(const std::u16string& text) {
  std::string out = Utf16ToUtf8(text);
  for (char& c : out) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

int List(facade::MailService* service, const Options& o, std::ostream& out, std::ostream& err) {
  uint32_t folder = store::kAllFolders;
  for (size_t i = 1; i < o.command.size(); ++i) {
    const std::string& a = o.command[i];
    if (a == "--unread") {
      folder = store::kUnreadView;
    } else if (a == "--folder" && i + 1 < o.command.size()) {
      if (!ParseU32(o.command[++i], &folder)) {
        err << "quillpost-cli: bad folder " << o.command[i] << "\n";
        return kExitUsage;
      }
    } else {
      err << kUsage;
      return kExitUsage;
    }
  }
  if (!OpenSaved(service, err)) return kExitFailed;
  store::MailStore* mails = service->store()->mails();
  const std::vector<store::ViewEntry>& view = mails->View(folder);
  for (auto it = view.rbegin(); it != view.rend(); ++it) {
    store::MailRecord mail;
    if (!mails->ReadMail(it->mail_id, &mail)) continue;
    out << it->mail_id << '\t' << FormatDate(mail.date()) << '\t' << Field(mail.sender) << '\t'
        << Field(mail.subject) << '\t' << (mail.unread() ? "unread" : "read") << '\n';
  }
  return kExitOk;
}

// The MailID argument of show, mark and delete; 0 when it is not a number.
uint32_t MailIdArg(const std::string& text) {
  uint32_t id = 0;
  return ParseU32(text, &id) ? id : 0;
}

// Waits for one fetch event after `start` returned true.
bool FetchOnce(facade::MailService* service, MessageLoop* loop, const Options& o, bool brief,
               const std::function<bool()>& start, std::ostream& err) {
  std::optional<facade::FetchOutcome> outcome;
  auto handler = [&](const facade::FetchOutcome& done) { outcome = done; };
  const int id = brief ? service->SubscribeBriefDone(handler) : service->SubscribeBodyDone(handler);
  const bool ok = start() && loop->PumpUntil([&] { return outcome.has_value(); },
                                             static_cast<uint32_t>(o.timeout_seconds) * 1000);
  if (brief) {
    service->UnsubscribeBriefDone(id);
  } else {
    service->UnsubscribeBodyDone(id);
  }
  if (!ok || !outcome->ok) {
    err << "quillpost-cli: the mail could not be fetched";
    if (outcome.has_value()) err << " (" << outcome->code << ")";
    err << "\n";
    return false;
  }
  return true;
}

int Show(facade::MailService* service, MessageLoop* loop, const Options& o, std::ostream& out,
         std::ostream& err) {
  const uint32_t mail_id = o.command.size() == 2 ? MailIdArg(o.command[1]) : 0;
  if (mail_id == 0) {
    err << kUsage;
    return kExitUsage;
  }
  if (!OpenSaved(service, err)) return kExitFailed;
  store::MailStore* mails = service->store()->mails();
  store::MailRecord mail;
  if (!mails->ReadMail(mail_id, &mail)) {
    err << "quillpost-cli: no mail " << mail_id << "\n";
    return kExitFailed;
  }
  const bool local = mail.server_id() == store::kLocalServerId;
  if (!local && mail.body_state() != store::kBodyComplete) {
    if (!SignInSaved(service, loop, o, err)) return kExitFailed;
    if (mail.body_state() == store::kNoBody &&
        !FetchOnce(service, loop, o, /*brief=*/true,
                   [&] { return service->DoGetMailBrief(mail_id); }, err)) {
      return kExitFailed;
    }
    // The rest of the body, slice after slice, while each one adds text.
    for (int round = 0; round < 1000; ++round) {
      if (!mails->ReadMail(mail_id, &mail)) return kExitFailed;
      if (mail.body_state() != store::kBodyIncomplete) break;
      const uint32_t held = mail.local_body_length();
      if (!FetchOnce(service, loop, o, /*brief=*/false,
                     [&] {
                       return service->DoGetMailBody(mail_id, static_cast<int32_t>(held),
                                                     mail.body_version());
                     },
                     err)) {
        return kExitFailed;
      }
      // A changed version restarts the text from 0, so it may hold less
      // than before and still be progress.
      store::MailRecord after;
      if (!mails->ReadMail(mail_id, &after) ||
          (after.body_state() == store::kBodyIncomplete && after.local_body_length() == held &&
           after.body_version() == mail.body_version())) {
        break;  // no progress: show what is held
      }
    }
  }
  store::MailFiles files;
  mails->files()->LoadMailFiles(mail_id, &files);
  auto join = [](const std::vector<std::u16string>& list) {
    std::u16string text;
    for (const auto& a : list) text += (text.empty() ? u"" : u", ") + a;
    return Field(text);
  };
  out << "From: " << Field(mail.sender) << "\n"
      << "To: " << join(files.to) << "\n"
      << "Cc: " << join(files.cc) << "\n"
      << "Subject: " << Field(mail.subject) << "\n"
      << "Date: " << FormatDate(mail.date()) << "\n\n"
      << Utf16ToUtf8(html::HtmlToText(files.body)) << "\n";
  return kExitOk;
}

// mark and delete: local changes, queued for the next sync.
int Change(facade::MailService* service, const Options& o, std::ostream& err) {
  const bool mark = o.command[0] == "mark";
  const size_t want = mark ? 3 : 2;
  const uint32_t mail_id = o.command.size() == want ? MailIdArg(o.command[1]) : 0;
  if (mail_id == 0 || (mark && o.command[2] != "read" && o.command[2] != "unread")) {
    err << kUsage;
    return kExitUsage;
  }
  if (!OpenSaved(service, err)) return kExitFailed;
  store::AccountStore* store = service->store();
  if (!store->mails()->Contains(mail_id)) {
    err << "quillpost-cli: no mail " << mail_id << "\n";
    return kExitFailed;
  }
  const bool ok = !mark                      ? store->DeleteMailsAndQueue({mail_id})
                  : o.command[2] == "read"   ? store->MarkRead(mail_id)
                                             : store->MarkUnread(mail_id);
  if (!ok) {
    err << "quillpost-cli: mail " << mail_id << " could not be changed\n";
    return kExitFailed;
  }
  return kExitOk;
}

int Folders(facade::MailService* service, const Options& o, std::ostream& out, std::ostream& err) {
  if (o.command.size() != 1) {
    err << kUsage;
    return kExitUsage;
  }
  if (!OpenSaved(service, err)) return kExitFailed;
  store::AccountStore* store = service->store();
  std::vector<const store::FolderRecord*> folders;
  for (const store::FolderRecord& f : store->folders()->folders()) folders.push_back(&f);
  std::sort(folders.begin(), folders.end(), [](const auto* a, const auto* b) {
    return a->folder_id() < b->folder_id();
  });
  for (const store::FolderRecord* f : folders) {
    const uint32_t id = f->folder_id();
    out << id << '\t' << Field(f->name()) << '\t' << store->mails()->TotalCount(id) << '\t'
        << store->mails()->UnreadCount(id) << '\n';
  }
  return kExitOk;
}

int Contacts(facade::MailService* service, const Options& o, std::ostream& out,
             std::ostream& err) {
  if (o.command.size() != 1) {
    err << kUsage;
    return kExitUsage;
  }
  if (!OpenSaved(service, err)) return kExitFailed;
  for (const std::u16string& display : service->store()->address_book()->AllView()) {
    out << Field(display) << '\n';
  }
  return kExitOk;
}

// The uin a directory name stands for, 0 unless it is an account directory
// name (a uin as the store spells it).
uint32_t AccountDirUin(const std::string& name) {
  uint32_t uin = 0;
  return ParseU32(name, &uin) && std::to_string(uin) == name ? uin : 0;
}

bool IsDirectory(FileSystem* fs, const std::string& path) {
  std::vector<std::string> names;
  return fs->ListPrefix(path, "", &names);
}

// Read-only: no gateway, no sign-in and no write to the data directory, so
// it can look at a store that another run left damaged.
int Check(FileSystem* fs, const Options& o, std::ostream& out, std::ostream& err) {
  std::vector<uint32_t> uins;
  if (o.command.size() == 3 && o.command[1] == "--uin") {
    const uint32_t uin = AccountDirUin(o.command[2]);
    if (uin == 0) {
      err << "quillpost-cli: bad uin " << o.command[2] << "\n";
      return kExitUsage;
    }
    if (!IsDirectory(fs, o.data_dir + "/" + o.command[2])) {
      err << "quillpost-cli: no account directory " << o.data_dir << "/" << uin << "\n";
      return kExitFailed;
    }
    uins.push_back(uin);
  } else if (o.command.size() == 1) {
    std::vector<std::string> names;
    if (!fs->ListPrefix(o.data_dir, "", &names)) {
      err << "quillpost-cli: cannot read " << o.data_dir << "\n";
      return kExitFailed;
    }
    for (const std::string& name : names) {
      const uint32_t uin = AccountDirUin(name);
      if (uin != 0 && IsDirectory(fs, o.data_dir + "/" + name)) uins.push_back(uin);
    }
    if (uins.empty()) {
      err << "quillpost-cli: no account directory in " << o.data_dir << "\n";
      return kExitFailed;
    }
    std::sort(uins.begin(), uins.end());
  } else {
    err << kUsage;
    return kExitUsage;
  }
  bool clean = true;
  for (const uint32_t uin : uins) {
    const store::StoreCheckReport report =
        store::CheckAccountStore(fs, o.data_dir + "/" + std::to_string(uin) + "/");
    const size_t n = report.problems.size();
    out << "account " << uin << ": "
        << (n == 0 ? "clean" : std::to_string(n) + (n == 1 ? " problem" : " problems")) << "\n";
    for (const std::string& fact : report.facts) out << "  " << fact << "\n";
    for (const std::string& problem : report.problems) out << "  problem: " << problem << "\n";
    clean = clean && report.clean();
  }
  return clean ? kExitOk : kExitFailed;
}

}  // namespace

std::u16string PasswordDigest(const std::string& typed_utf8) {
  uint8_t digest[16];
  crypto::Md5(ByteView(typed_utf8), digest);
  std::string hex = HexEncode(ByteView(digest, sizeof digest));
  for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return Utf8ToUtf16(hex);
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  if (!ParseOptions(args, &o, err)) return kExitUsage;
  FileSystem* fs = DefaultFileSystem();
  if (o.command[0] == "check") return Check(fs, o, out, err);  // before anything is written
  if (!fs->MakeDirs(o.data_dir)) {
    err << "quillpost-cli: cannot create " << o.data_dir << "\n";
    return kExitUsage;
  }
  facade::MailServiceOptions so;
  so.data_dir = o.data_dir;
  if (!LoadGateway(fs, o, &so.gateway, err)) return kExitUsage;

  LinuxDeviceIdSource id_source(fs, "/etc/machine-id", RegistryStore::DefaultDir());
  store::DeviceId device_id(&id_source, ProgramDir());
  so.device_id = device_id.Get();
  engine::LinuxConnectionBackend backend;
  so.fs = fs;
  so.backend = &backend;

  MessageLoop loop;
  facade::MailService service(&loop, std::move(so));
  if (o.command[0] == "login") return Login(&service, &loop, o, out, err);
  if (o.command[0] == "sync") return Sync(&service, &loop, o, err);
  if (o.command[0] == "list") return List(&service, o, out, err);
  if (o.command[0] == "mark" || o.command[0] == "delete") return Change(&service, o, err);
  if (o.command[0] == "show") return Show(&service, &loop, o, out, err);
  if (o.command[0] == "folders") return Folders(&service, o, out, err);
  if (o.command[0] == "contacts") return Contacts(&service, o, out, err);
  err << "quillpost-cli: unknown command " << o.command[0] << "\n" << kUsage;
  return kExitUsage;
}

}  // namespace cli
}  // namespace quill
