#include "facade/login_operation.h"

#include <memory>
#include <utility>

#include "commands/auth_job.h"
#include "engine/trace.h"
#include "facade/facade_core.h"

namespace quill {
namespace facade {

LoginOperation::LoginOperation(FacadeCore* core) : Operation(core) {
  core_->runner().set_login_starter([this] { return StartSilentLogin(); });
}

bool LoginOperation::DoAuth(int access_point, bool user_initiated, std::u16string account,
                            std::u16string password, bool auto_login) {
  if (user_initiated) {
    auto_login_failures_ = 0;
    Cancel();
  } else {
    if (auto_login_disabled_ || auto_login_failures_ >= kMaxAutoLoginFailures) return false;
    if (slot_.busy()) {
      engine::WriteLog(engine::kNetworkLog, "DoAuth and but is Authing", 0, 0);
      return true;
    }
  }
  engine::AccountState& block = core_->account();
  store::GlobalSettings& settings = core_->settings();
  // Empty texts: the account block's, else the account saved for automatic
  // logins.
  if (account.empty()) account = block.login_account();
  if (account.empty()) account = settings.Get(store::global_keys::kUinName);
  if (password.empty()) password = block.login_password();
  if (password.empty()) password = settings.Get(store::global_keys::kPwd);
  commands::AuthJobParams params;
  params.access_point = access_point;
  params.user_initiated = user_initiated;
  params.account = std::move(account);
  params.password = std::move(password);
  params.auto_login = auto_login;
  params.device_id = core_->options().device_id;
  params.now_seconds = core_->options().now_seconds;
  std::unique_ptr<engine::NetJob> job = std::make_unique<commands::AuthJob>(
      core_->exchange(), static_cast<commands::LoginHost*>(this), std::move(params));
  job->set_listener(this);
  const int32_t id = core_->runner().Queue(&job);
  if (id <= 0) return false;
  slot_.Run(static_cast<uint32_t>(id));
  engine::WriteLog(engine::kNetworkLog, "DoAuth begin", 0, 0);
  core_->job_started().Fire();
  return true;
}

bool LoginOperation::StartSilentLogin() {
  return DoAuth(core_->connections().destination(), /*user_initiated=*/false, std::u16string(),
                std::u16string(), /*auto_login=*/true);
}

void LoginOperation::Cancel() {
  const uint32_t id = slot_.job_id();
  if (!slot_.Finish(id)) return;
  core_->runner().Cancel(id);
  commands::AuthOutcome outcome;
  outcome.job_id = id;
  outcome.replaced = true;
  done_.Fire(outcome);
}

void LoginOperation::JobGone(uint32_t job_id, int) {
  // A login that ended without its answer (the pool went away) still ends
  // once.
  if (!slot_.Finish(job_id)) return;
  commands::AuthOutcome outcome;
  outcome.job_id = job_id;
  done_.Fire(outcome);
}

void LoginOperation::AuthDone(const commands::AuthOutcome& outcome) {
  if (slot_.Finish(outcome.job_id)) done_.Fire(outcome);
}

std::u16string LoginOperation::LoginAccount() { return core_->account().login_account(); }

// The texts themselves are never logged: they are credentials.
void LoginOperation::SetLoginAccount(std::u16string account) {
  engine::WriteLog(engine::kNetworkLog, "SetLoginAccount", 0, 0);
  core_->account().SetLoginAccount(std::move(account));
}
void LoginOperation::SetLoginPassword(std::u16string password) {
  engine::WriteLog(engine::kNetworkLog, "SetLoginPsw", 0, 0);
  core_->account().SetLoginPassword(std::move(password));
}
void LoginOperation::SetSession(std::string session_key) {
  engine::WriteLog(engine::kNetworkLog, "SetSession", 0, 0);
  core_->account().SetSession(std::move(session_key));
}
void LoginOperation::SetLoginUin(uint32_t uin) {
  engine::WriteLog(engine::kNetworkLog, "SetLoginUin", uin, 0);
  core_->account().SetUin(uin);
}

// Called by the login that succeeded for another account: it keeps running.
void LoginOperation::SwitchAccount() {
  core_->EndSessionWork();  // first: a running sync hands its batch back to the old store
  core_->CloseAccount();
}

void LoginOperation::OpenAccount(uint32_t uin) { core_->OpenAccount(uin); }

void LoginOperation::SaveAccountProfile(const std::u16string& nickname,
                                        const std::u16string& address) {
  if (core_->store() == nullptr) core_->OpenAccount(core_->account().session().uin);
  store::AccountStore* store = core_->store();
  if (store->GetNickName() != nickname || store->GetEmailAddr() != address) {
    store->SetAccountIdentity(address, nickname);
  }
}

store::GlobalSettings* LoginOperation::Settings() { return &core_->settings(); }

void LoginOperation::RememberDestination(int access_point) {
  core_->connections().SetDestination(access_point);
}

void LoginOperation::DropPendingJobs() { core_->runner().AbandonHeld(); }
void LoginOperation::RunPendingJobs() { core_->runner().RunHeld(); }

void LoginOperation::StartUpdateQuery(int reason) {
  if (update_query_) update_query_(reason);
}

}  // namespace facade
}  // namespace quill
