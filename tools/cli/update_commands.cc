// quillpost-cli stats and update: the usage statistics held for the next
// upload, and the update check and package download.
#include <optional>

#include "commands/update_message.h"
#include "commands/update_pack_job.h"
#include "facade/usage_counters.h"
#include "platform/utf.h"
#include "store/config_file.h"
#include "tools/cli/command_groups.h"

namespace quill {
namespace cli {
namespace {

constexpr char kCheckFailedText[] = "拉取升级信息失败，请检查网络是否可用";
constexpr char kUpToDateText[] = "当前已是最新版本";

// Read-only: global.cfg as the last run left it.
int Stats(Invocation& run) {
  if (run.command().size() != 1) return run.Usage();
  store::ConfigFile settings(run.fs());
  settings.SetPath(run.options().data_dir + "/global.cfg");
  for (const char* key : facade::kStatKeys) {
    run.out() << key << " " << settings.GetUInt(key, 0) << "\n";
  }
  return kExitOk;
}

// Signs in with the saved account and asks for a newer client for the
// user; false (with the reason on err) when the check failed.
bool Check(Invocation& run, facade::UpdateInfoOutcome* outcome) {
  if (!run.SignInSaved()) return false;
  facade::MailService* service = run.service();
  std::optional<facade::UpdateInfoOutcome> done;
  // A login may ask on its own (reason 2); only the user's answer counts.
  const int id = service->SubscribeUpdateInfoDone([&](const facade::UpdateInfoOutcome& o) {
    if (o.reason == commands::kUpdateByUser) done = o;
  });
  const bool started = service->DoGetUpdateInfo(commands::kUpdateByUser);
  const bool answered = started && run.WaitFor([&] { return done.has_value(); });
  service->UnsubscribeUpdateInfoDone(id);
  if (!answered || !done->ok) {
    run.err() << kCheckFailedText;
    if (answered) run.err() << " (" << done->code << ", step " << done->step << ")";
    run.err() << "\n";
    return false;
  }
  *outcome = *done;
  return true;
}

int UpdateCheck(Invocation& run) {
  facade::UpdateInfoOutcome outcome;
  if (!Check(run, &outcome)) return kExitFailed;
  if (!outcome.offered()) {
    run.out() << kUpToDateText << "\n";
    return kExitOk;
  }
  run.out() << "version: " << outcome.version_text << "\n"
            << "package: " << outcome.offer.package << "\n"
            << "size: " << outcome.update_value << "\n"
            << "notes: " << outcome.offer.notes << "\n";
  return kExitOk;
}

int UpdateFetch(Invocation& run, const std::string& dir) {
  facade::UpdateInfoOutcome offer;
  if (!Check(run, &offer)) return kExitFailed;
  if (!offer.offered()) {
    run.err() << kUpToDateText << "\n";
    return kExitFailed;
  }
  facade::MailService* service = run.service();
  std::optional<facade::UpdatePackOutcome> end;
  const int id = service->SubscribeUpdatePackDone([&](const facade::UpdatePackOutcome& o) {
    if (o.finished) {
      end = o;
    } else {
      run.err() << "update: " << o.held << " of " << o.total << " bytes\n";
    }
  });
  const bool started = service->DoGetUpdatePack(
      offer.offer.package, static_cast<uint64_t>(offer.update_value), 0, dir);
  const bool ended = started && run.WaitFor([&] { return end.has_value(); });
  if (started && !ended) service->CancelUpdatePack();  // what is held stays for the next run
  service->UnsubscribeUpdatePackDone(id);
  if (!started) {
    run.err() << "quillpost-cli: the download could not be started\n";
    return kExitFailed;
  }
  if (!ended) {
    run.err() << "quillpost-cli: no end within " << run.options().timeout_seconds
              << " s; run it again to resume\n";
    return kExitFailed;
  }
  if (!end->ok) {
    if (end->code == commands::kUpdatePackCheckFailed) {
      run.err() << "quillpost-cli: the package failed its check and was deleted\n";
    } else {
      run.err() << "quillpost-cli: the download failed (" << end->code << ", step " << end->step
                << ")\n";
    }
    return kExitFailed;
  }
  run.out() << end->path << "\n";
  return kExitOk;
}

int Update(Invocation& run) {
  const std::vector<std::string>& command = run.command();
  if (command.size() == 2 && command[1] == "check") return UpdateCheck(run);
  if (command.size() == 4 && command[1] == "fetch" && command[2] == "--out" &&
      !command[3].empty()) {
    return UpdateFetch(run, command[3]);
  }
  return run.Usage();
}

}  // namespace

std::vector<CommandEntry> UpdateCommands() {
  using Needs = CommandEntry::Needs;
  return {
      {"stats",
       "  stats                    the usage statistics held for the next upload, one per line\n",
       Needs::kDataDir, Stats},
      {"update",
       "  update check             sign in with the saved account and ask for a newer client;\n"
       "                           prints its version, package, size and notes, or that none\n"
       "                           is offered (exit 1: the check failed)\n"
       "  update fetch --out DIR   the same, then download the offered package into DIR\n"
       "                           (progress on stderr; an interrupted download resumes) and\n"
       "                           print the path of the package, checked against its digest;\n"
       "                           nothing is run\n",
       Needs::kNetwork, Update},
  };
}

}  // namespace cli
}  // namespace quill
