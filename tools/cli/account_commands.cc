// quillpost-cli login and sync: the commands that reach the service for
// the account itself.
#include <optional>

#include "commands/auth_job.h"
#include "commands/sync_message.h"
#include "facade/sync_operation.h"
#include "platform/utf.h"
#include "store/config_file.h"
#include "tools/cli/cli.h"
#include "tools/cli/command_groups.h"

namespace quill {
namespace cli {
namespace {

int Login(Invocation& run) {
  const std::vector<std::string>& command = run.command();
  if (command.size() != 3) return run.Usage();
  commands::AuthOutcome outcome;
  if (!run.SignIn(Utf8ToUtf16(command[1]), commands::PasswordDigest(command[2]),
                  /*user_initiated=*/true,
                  &outcome)) {
    return kExitFailed;
  }
  store::ConfigFile account(run.fs());
  account.SetPath(run.service()->account_dir() + "/account.cfg");
  run.out() << "uin: " << outcome.uin << "\n";
  run.out() << "nickname: "
            << Utf16ToUtf8(account.GetText(store::account_keys::kNickName.name, u"")) << "\n";
  run.out() << "address: "
            << Utf16ToUtf8(account.GetText(store::account_keys::kEmailAddr.name, u"")) << "\n";
  return kExitOk;
}

int Sync(Invocation& run) {
  if (run.command().size() != 1) return run.Usage();
  if (!run.SignInSaved()) return kExitFailed;
  facade::MailService* service = run.service();
  std::ostream& err = run.err();
  std::optional<facade::SyncOutcome> outcome;
  int new_mails = 0;
  service->SubscribeSyncDone([&](const facade::SyncOutcome& done) { outcome = done; });
  service->SubscribeNewMailArrived([&](int count) { new_mails = count; });
  if (!service->DoSync(commands::kSyncByUser)) {
    err << "quillpost-cli: the sync could not be started\n";
    return kExitFailed;
  }
  // Progress: one line for each further page the sync asks for.
  int pages = 0;
  service->SubscribeSyncPage([&](int) {
    err << "sync: page " << ++pages << ", " << service->store()->mails()->mail_count()
        << " mails\n";
  });
  if (!run.WaitFor([&] { return outcome.has_value(); })) {
    err << "quillpost-cli: no answer within " << run.options().timeout_seconds << " s\n";
    return kExitFailed;
  }
  if (!outcome->ok) {
    if (outcome->step == facade::kSyncStepRefused) {
      err << "quillpost-cli: the service refused the sync (" << outcome->code << ")\n";
    } else if (outcome->step == facade::kSyncStepStore) {
      err << "quillpost-cli: the mailbox could not be stored (step " << outcome->step << ")\n";
    } else {
      err << Utf16ToUtf8(commands::AuthFailureText(outcome->code)) << " (" << outcome->code
          << ", step " << outcome->step << ")\n";
    }
    return kExitFailed;
  }
  err << "sync: " << service->store()->mails()->mail_count() << " mails, " << new_mails
      << " new\n";
  // The first sync of a run uploads the usage statistics: let it end, so
  // what it uploaded is also cleared here.
  run.WaitFor([&] { return !service->JobsRunning(); });
  return kExitOk;
}

}  // namespace

std::vector<CommandEntry> AccountCommands() {
  using Needs = CommandEntry::Needs;
  return {
      {"login",
       "  login ACCOUNT PASSWORD   sign in (the account is saved for later commands);\n"
       "                           prints the account number, nickname and address\n",
       Needs::kNetwork, Login},
      {"sync",
       "  sync                     sign in with the saved account and bring the mailbox up to date;\n"
       "                           progress on stderr: one line per page received\n",
       Needs::kNetwork, Sync},
  };
}

}  // namespace cli
}  // namespace quill
