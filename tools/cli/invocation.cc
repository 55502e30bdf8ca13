#include "tools/cli/invocation.h"

#include <optional>

#include "commands/auth_job.h"
#include "platform/utf.h"

namespace quill {
namespace cli {

int Invocation::Usage() {
  err_ << UsageText();
  return kExitUsage;
}

bool Invocation::RequireGateway() {
  if (gateway_problem_.empty()) return true;
  err_ << gateway_problem_;
  return false;
}

bool Invocation::WaitFor(const std::function<bool()>& done) {
  return loop_->PumpUntil(done, static_cast<uint32_t>(options_.timeout_seconds) * 1000);
}

bool Invocation::SignIn(const std::u16string& account, const std::u16string& password,
                        bool user_initiated, commands::AuthOutcome* outcome) {
  if (!RequireGateway()) return false;
  std::optional<commands::AuthOutcome> done;
  const int id =
      service_->SubscribeAuthDone([&](const commands::AuthOutcome& answer) { done = answer; });
  const bool started = service_->DoAuth(service_->connections().destination(), user_initiated,
                                        account, password, /*auto_login=*/true);
  const bool answered =
      started && WaitFor([&] { return done.has_value() && !service_->LoginRunning(); });
  service_->UnsubscribeAuthDone(id);
  if (!started) {
    err_ << "quillpost-cli: the login could not be started\n";
    return false;
  }
  if (!answered) {
    err_ << "quillpost-cli: no answer within " << options_.timeout_seconds << " s\n";
    return false;
  }
  if (!done->ok) {
    err_ << Utf16ToUtf8(commands::AuthFailureText(done->code));
    if (commands::IsNetworkFailure(done->code)) err_ << " (" << done->code << ")";
    err_ << "\n";
    return false;
  }
  *outcome = *done;
  return true;
}

bool Invocation::SignInSaved() {
  store::GlobalSettings& settings = service_->settings();
  const std::u16string account = settings.Get(store::global_keys::kUinName);
  const std::u16string password = settings.Get(store::global_keys::kPwd);
  if (account.empty() || password.empty()) {
    err_ << "quillpost-cli: no saved account: run login first\n";
    return false;
  }
  commands::AuthOutcome outcome;
  return SignIn(account, password, /*user_initiated=*/false, &outcome);
}

bool Invocation::OpenSaved() {
  if (service_->OpenSavedAccount()) return true;
  err_ << "quillpost-cli: no saved account: run login first\n";
  return false;
}

}  // namespace cli
}  // namespace quill
