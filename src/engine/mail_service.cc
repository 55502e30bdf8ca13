#include "engine/mail_service.h"

#include <utility>

#include "commands/auth_job.h"
#include "engine/trace.h"

namespace quill {
namespace engine {

MailService::MailService(MessageLoop* loop, MailServiceOptions options)
    : loop_(loop),
      options_(std::move(options)),
      settings_(options_.fs),
      connections_(options_.backend, options_.prober, [this] {
        ConnectionManager::Options o;
        if (!options_.gateway.proxy.empty()) {
          o.proxy_host = options_.gateway.proxy.substr(0, options_.gateway.proxy.rfind(':'));
        }
        return o;
      }()),
      pool_(loop) {
  settings_.SetDataDir(options_.data_dir);
  const store::StartupSettings startup = settings_.LoadAtStartup();
  connections_.SetDestination(startup.net);
  TransferTotals totals;
  totals.sent = startup.send_total;
  totals.received = startup.recv_total;
  account_.SetTotals(totals);
  account_.SetLoginAccount(settings_.Get(store::global_keys::kUinName));
  exchange_.connections = &connections_;
  exchange_.gateway = &options_.gateway;
  exchange_.account = &account_;
  exchange_.http_cache = &http_cache_;
  exchange_.http = options_.http;
}

MailService::~MailService() {
  const TransferTotals totals = account_.totals();
  settings_.SaveTrafficTotals(totals.received, totals.sent);
}

bool MailService::DoAuth(int access_point, bool user_initiated, std::u16string account,
                         std::u16string password, bool auto_login) {
  if (auth_job_id_ != -1) return false;
  if (user_initiated) {
    auto_login_failures_ = 0;
  } else if (auto_login_disabled_ || auto_login_failures_ >= kMaxAutoLoginFailures) {
    return false;
  }
  commands::AuthJobParams params;
  params.access_point = access_point;
  params.user_initiated = user_initiated;
  params.account = std::move(account);
  params.password = std::move(password);
  params.auto_login = auto_login;
  params.device_id = options_.device_id;
  auto job = std::make_unique<commands::AuthJob>(&exchange_, static_cast<commands::LoginHost*>(this),
                                                std::move(params));
  job->set_listener(this);
  const int32_t id = pool_.AddJob(std::move(job));
  if (id <= 0) return false;
  auth_job_id_ = id;
  return true;
}

int MailService::SubscribeAuthDone(AuthDoneHandler handler) {
  const int id = next_subscriber_id_++;
  auth_done_.push_back(Subscriber{id, std::move(handler)});
  return id;
}

void MailService::UnsubscribeAuthDone(int id) {
  for (auto it = auth_done_.begin(); it != auth_done_.end(); ++it) {
    if (it->id == id) {
      auth_done_.erase(it);
      return;
    }
  }
}

void MailService::ResetSession() {
  account_.ClearSession();
  account_.SetUin(0);
}

void MailService::OnJobEvent(JobEventKind, int32_t, int, NetJob*) {}

void MailService::OnJobEnded(uint32_t job_id, int job_type, uint32_t) {
  if (job_type == kJobLogin && static_cast<int32_t>(job_id) == auth_job_id_) auth_job_id_ = -1;
}

std::u16string MailService::LoginAccount() { return account_.login_account(); }
void MailService::SetLoginAccount(std::u16string account) {
  account_.SetLoginAccount(std::move(account));
}
void MailService::SetLoginPassword(std::u16string password) {
  account_.SetLoginPassword(std::move(password));
}
void MailService::SetSession(std::string session_key) { account_.SetSession(std::move(session_key)); }
void MailService::SetLoginUin(uint32_t uin) { account_.SetUin(uin); }

void MailService::SwitchAccount() {
  account_cfg_.reset();
  account_dir_.clear();
  ResetSession();
}

void MailService::OpenAccount(uint32_t uin) {
  account_dir_ = options_.data_dir + "/" + std::to_string(uin);
  options_.fs->MakeDirs(account_dir_);
  account_cfg_ = std::make_unique<store::ConfigFile>(options_.fs);
  account_cfg_->SetPath(account_dir_ + "/account.cfg");
}

void MailService::SaveAccountProfile(const std::u16string& nickname,
                                     const std::u16string& address) {
  if (!account_cfg_) OpenAccount(account_.session().uin);
  namespace keys = store::account_keys;
  if (account_cfg_->GetText(keys::kNickName.name, u"") != nickname) {
    account_cfg_->SetText(keys::kNickName.name, nickname);
  }
  if (account_cfg_->GetText(keys::kEmailAddr.name, u"") != address) {
    account_cfg_->SetText(keys::kEmailAddr.name, address);
  }
}

void MailService::RememberDestination(int access_point) { connections_.SetDestination(access_point); }

void MailService::DropPendingJobs() {
  std::vector<std::unique_ptr<NetJob>> dropped;
  dropped.swap(pending_);
  for (auto& job : dropped) job->Abandon();
}

void MailService::RunPendingJobs() {
  std::vector<std::unique_ptr<NetJob>> ready;
  ready.swap(pending_);
  for (auto& job : ready) pool_.AddJob(std::move(job));
}

// Update queries come with the update command; until then the notice is
// only traced.
void MailService::StartUpdateQuery(int reason) {
  WriteLog(kNetworkLog, "update query due (reason)", static_cast<uint32_t>(reason), 0);
}

void MailService::AuthDone(const commands::AuthOutcome& outcome) {
  // A copy: handlers may subscribe or unsubscribe while we walk.
  const std::vector<Subscriber> subscribers = auth_done_;
  for (const Subscriber& s : subscribers) {
    bool still_subscribed = false;
    for (const Subscriber& now : auth_done_) still_subscribed |= now.id == s.id;
    if (still_subscribed) s.handler(outcome);
  }
}

}  // namespace engine
}  // namespace quill
