#include "commands/auth_job.h"

#include "commands/update_message.h"
#include "engine/trace.h"
#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/utf.h"
#include "protocol/envelope.h"
#include "protocol/message_heads.h"

namespace quill {
namespace commands {

namespace {

// Update notices are repeated at most every ten days for one version.
constexpr uint64_t kUpdateNoticeQuietSeconds = 864000;

bool SameAccount(std::u16string_view a, std::u16string_view b) {
  return EqualsIgnoringAsciiCase(a, b);
}

std::u16string Utf16(const std::string& utf8) { return Utf8ToUtf16(utf8); }

}  // namespace

AuthJob::AuthJob(const engine::ExchangeContext* context, LoginHost* host, AuthJobParams params)
    : context_(context),
      host_(host),
      params_(std::move(params)),
      request_(MakeAuthRequest(params_.account, params_.password, params_.device_id)) {}

bool AuthJob::EncodeRequest(protocol::WireMessage* request) {
  return EncodeAuthRequest(request_, request);
}

std::unique_ptr<engine::JobResult> AuthJob::DecodeResponse(const protocol::WireMessage& response) {
  auto result = std::make_unique<AuthResult>();
  if (DecodeAuthResponse(response, &result->response) != 0) return nullptr;
  return result;
}

engine::ExchangeOutcome AuthJob::RunWith(engine::JobReporter* reporter) {
  engine::ExchangeRequest request;
  request.mode = engine::ExchangeMode::kLogin;
  request.access_point = params_.access_point;
  request.login_key = protocol::NarrowLoginKey(params_.password);
  return engine::RunExchange(*context_, request, this, reporter);
}

void AuthJob::Run(engine::WorkerLink& link) { RunWith(&link); }

void AuthJob::Abandon() {
  AuthOutcome outcome;
  outcome.job_id = job_id();
  host_->AuthDone(outcome);
}

// A login its host no longer runs (a newer one replaced it, or the session
// was reset) applies nothing: the host already ended it.
void AuthJob::OnError(uint32_t job_id, int, uint32_t system_error, uint32_t, uint32_t) {
  if (!host_->IsCurrentLogin(job_id)) return;
  // The jobs that waited for a session get none from this login, whoever
  // started it.
  host_->DropPendingJobs();
  AuthOutcome outcome;
  outcome.job_id = job_id;
  outcome.code = static_cast<int32_t>(system_error);
  host_->AuthDone(outcome);
}

void AuthJob::OnDataCome(uint32_t job_id, int, engine::JobResult* response, uint32_t) {
  if (!host_->IsCurrentLogin(job_id)) return;
  // The exchange delivers only what DecodeResponse made.
  Complete(static_cast<AuthResult*>(response)->response);
}

void AuthJob::Complete(const AuthResponse& response) {
  if (response.head.result == 0) {
    CompleteSignedIn(response);
  } else {
    CompleteRefused(response);
  }
}

void AuthJob::CompleteRefused(const AuthResponse& response) {
  const int32_t result = response.head.result;
  if (result == kAuthMustUpgrade) {
    host_->DisableAutoLogin();
    // A session for offline use, but only for the account the store holds:
    // another account's session must never be installed over it.
    if (SameAccount(params_.account, host_->LoginAccount())) {
      host_->SetLoginPassword(params_.password);
      host_->SetSession(response.session_key);
      host_->SetLoginUin(response.uin);
    }
  }
  if (!params_.user_initiated) host_->CountAutoLoginFailure();
  host_->DropPendingJobs();
  engine::WriteLog(engine::kNetworkLog, "auth end err(errcode)", static_cast<uint32_t>(result), 0);
  AuthOutcome outcome;
  outcome.job_id = job_id();
  outcome.code = result;
  outcome.uin = response.uin;
  outcome.session = response.session_key;
  outcome.update_id = response.update_id;
  outcome.server_version = response.server_version;
  host_->AuthDone(outcome);
}

void AuthJob::CompleteSignedIn(const AuthResponse& response) {
  store::GlobalSettings* settings = host_->Settings();
  namespace keys = store::global_keys;
  if (SameAccount(params_.account, host_->LoginAccount())) {
    host_->SetLoginPassword(params_.password);
    host_->SetSession(response.session_key);
    host_->SetLoginUin(response.uin);
  } else {
    host_->SwitchAccount();
    host_->SetLoginAccount(params_.account);
    host_->SetLoginPassword(params_.password);
    host_->SetSession(response.session_key);
    host_->SetLoginUin(response.uin);
    settings->Set(keys::kUinName, params_.account);
    settings->Set(keys::kUinNum, response.uin);
    host_->OpenAccount(response.uin);
  }

  host_->RememberDestination(params_.access_point);
  settings->Set(keys::kNet, params_.access_point);

  // The credentials on disk are the user's choice: only the user's own
  // login writes them, as its "自动登录" box says (the password is kept
  // only when the box is ticked; an account switch with the box clear
  // removes the previous account's). A silent login leaves them alone.
  if (params_.user_initiated) {
    settings->Set(keys::kHaveLogon, params_.auto_login ? 1 : 0);
    settings->Set(keys::kPwd, params_.auto_login ? params_.password : u"");
  }

  AuthOutcome outcome;
  outcome.job_id = job_id();
  outcome.ok = true;
  outcome.uin = response.uin;
  outcome.session = response.session_key;
  outcome.server_version = response.server_version;
  host_->AuthDone(outcome);
  host_->ResetAutoLoginFailures();
  host_->SaveAccountProfile(Utf16(response.nickname), Utf16(response.address));
  engine::WriteLog(engine::kNetworkLog, "auth end ok", 0, 0);
  host_->RunPendingJobs();
  if (UpdateQueryDue(response.server_version)) host_->StartUpdateQuery(kUpdateAfterLogin);
}

// Versions compare signed, times unsigned.
bool AuthJob::UpdateQueryDue(int32_t server_version) {
  if (server_version <= static_cast<int32_t>(protocol::kClientVersion)) return false;
  store::ConfigFile& settings = host_->Settings()->file();
  // Either spelling of a negative version reads as one.
  const int32_t last_version =
      static_cast<int32_t>(settings.GetUInt(store::global_keys::kLastUpdateVersion.name, 0));
  const uint64_t last_time = settings.GetUInt64(store::global_keys::kLastUpdateTime.name, 0);
  const uint64_t now = static_cast<uint64_t>(params_.now_seconds ? params_.now_seconds() : NowSeconds());
  if (server_version > last_version || last_time == 0) return true;
  return now > last_time && now - last_time > kUpdateNoticeQuietSeconds;
}

std::u16string AuthFailureText(int32_t code) {
  if (code == kAuthMustUpgrade) return u"系统检测到您的版本需要升级，否则只能离线浏览。请问是否现在升级？";
  if (IsNetworkFailure(code)) return u"您选择接入的网络无法连通，请问是否检测有效的网络接入类型？";
  switch (code) {
    case -2: return u"参数错误";
    case -3:
    case -4: return u"无此用户或密码错误，请检查是否设置了独立密码。";
    case -5: return u"找不到";
    case -6: return u"服务器拒绝登录";
    case -11: return u"此邮箱不在内测授权范围，仅当服务器闲时才可以登录。";
    case -12: return u"此邮箱不在内测授权范围，无法登录。";
    default: return u"未定义的错误";
  }
}

}  // namespace commands
}  // namespace quill
