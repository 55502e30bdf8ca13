#include "engine/mail_service.h"

#include <utility>

#include "commands/auth_job.h"
#include "engine/sync_applier.h"
#include "engine/trace.h"
#include "protocol/message_heads.h"

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

void MailService::ResetSession() {
  account_.ClearSession();
  account_.SetUin(0);
}

void MailService::OnJobEvent(JobEventKind kind, int32_t code, int job_type, NetJob* job) {
  if (kind != JobEventKind::kData || code != protocol::kSessionKeyError || job_type != kJobSync ||
      static_cast<int32_t>(job->job_id()) != sync_job_id_) {
    return;
  }
  // The session expired: sign in again silently and run a copy of the sync,
  // which keeps the batch of local changes in flight. Bounded, since the
  // service could answer -3 after every fresh login.
  if (sync_retries_ >= kMaxSessionRetries) {
    SyncOutcome outcome;
    outcome.code = code;
    outcome.step = -2;
    outcome.reason = sync_reason_;
    EndSync(job->job_id(), /*sent=*/false, outcome);
    return;
  }
  ++sync_retries_;
  WriteLog(kNetworkLog, "DoSync svr ret sessionkey err, auth and then will retry", 0, 0);
  account_.SetSession(std::string());
  auto retry = std::make_unique<commands::SyncJob>(
      &exchange_, static_cast<commands::SyncHost*>(this), commands::SyncRequest());
  job->CopyRequestTo(retry.get());
  retry->set_listener(this);
  pending_.push_back(std::move(retry));
  sync_job_id_ = kSyncWaitingForLogin;  // the copy, not yet started
  if (!DoAuth(connections_.destination(), /*user_initiated=*/false, account_.login_account(),
              account_.login_password(), /*auto_login=*/true)) {
    DropPendingJobs();
  }
}

void MailService::OnJobEnded(uint32_t job_id, int job_type, uint32_t) {
  if (job_type == kJobLogin && static_cast<int32_t>(job_id) == auth_job_id_) auth_job_id_ = -1;
  // A sync that ended without its last page (no connection, the pool going
  // away) still ends once.
  if (job_type == kJobSync && static_cast<int32_t>(job_id) == sync_job_id_) {
    SyncOutcome outcome;
    outcome.step = static_cast<int32_t>(kStepNoConnection);
    outcome.reason = sync_reason_;
    EndSync(job_id, /*sent=*/false, outcome);
  }
}

bool MailService::DoSync(int32_t reason) {
  if (store_ == nullptr || !HasSession() || auth_job_id_ != -1 || sync_job_id_ != -1) return false;
  commands::SyncRequest request;
  request.head.session_key = account_.session().session_key;
  request.head.uin = account_.session().uin;
  request.head.data_id = store_->GetAccountDataId(options_.device_id);
  request.head.sync_key = store_->GetSyncKey();
  stored_sync_key_ = request.head.sync_key;
  request.reason = reason;
  request.auto_delete_seconds =
      static_cast<uint32_t>(settings_.Get(store::global_keys::kAutoDeleteSpan)) * 86400u;
  request.excluded_folders = store_->folders()->excluded();
  std::vector<store::Command> batch;
  if (store_->commands()->TakeBatch(&batch)) {
    for (const store::Command& queued : batch) {
      commands::SyncCommand c;
      c.id = queued.server_id;
      if (queued.type == store::kCommandDelete) {
        c.type = commands::kRbcmdDelMail;
      } else {
        c.type = commands::kRbcmdUpdateMail;
        c.mask = 1;
        c.flags = static_cast<int32_t>(queued.value);
      }
      request.commands.push_back(c);
    }
  }
  auto job = std::make_unique<commands::SyncJob>(&exchange_, static_cast<commands::SyncHost*>(this),
                                                 std::move(request));
  job->set_listener(this);
  const int32_t id = pool_.AddJob(std::move(job));
  if (id <= 0) {
    store_->commands()->FinishBatch(false);
    return false;
  }
  sync_job_id_ = id;
  sync_reason_ = reason;
  sync_new_mails_ = 0;
  sync_retries_ = 0;
  return true;
}

void MailService::SyncPageArrived(uint32_t job_id, const commands::SyncResponse& page,
                                  bool final_page, int32_t reason) {
  if (static_cast<int32_t>(job_id) != sync_job_id_ || store_ == nullptr) return;  // a stale job
  // An expired session is renewed in OnJobEvent, right after this call.
  if (page.head.result == protocol::kSessionKeyError) return;
  SyncOutcome outcome;
  outcome.reason = reason;
  if (page.head.result != 0) {
    outcome.code = page.head.result;
    outcome.step = -2;
    EndSync(job_id, /*sent=*/false, outcome);
    return;
  }
  SyncPageStats stats;
  if (ApplySyncPage(store_.get(), page, &stats)) stored_sync_key_ = page.new_key;
  sync_new_mails_ += stats.unread_added;
  if (!final_page) return;
  outcome.ok = true;
  EndSync(job_id, /*sent=*/true, outcome);
}

void MailService::SyncFailed(uint32_t job_id, uint32_t system_error, uint32_t step,
                             int32_t reason) {
  SyncOutcome outcome;
  outcome.code = static_cast<int32_t>(system_error);
  outcome.step = static_cast<int32_t>(step);
  outcome.reason = reason;
  EndSync(job_id, /*sent=*/false, outcome);
}

void MailService::SyncAbandoned(uint32_t job_id, int32_t reason) {
  SyncOutcome outcome;
  outcome.step = -1;
  outcome.reason = reason;
  EndSync(job_id, /*sent=*/false, outcome);
}

void MailService::EndSync(uint32_t job_id, bool sent, const SyncOutcome& outcome) {
  if (static_cast<int32_t>(job_id) != sync_job_id_) return;  // ended already, or not ours
  // (A copy waiting for the login has job id 0, the waiting mark.)
  sync_job_id_ = -1;
  if (store_ != nullptr) store_->commands()->FinishBatch(sent);
  const int new_mails = sync_new_mails_;
  sync_new_mails_ = 0;
  if (outcome.ok && new_mails > 0) new_mail_.Fire(new_mails);
  sync_done_.Fire(outcome);
}

bool MailService::OpenSavedAccount() {
  const uint64_t uin = settings_.Get(store::global_keys::kUinNum);
  if (uin == 0 || uin > UINT32_MAX) return false;
  OpenAccount(static_cast<uint32_t>(uin));
  return store_ != nullptr && store_->opened();
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
  store_.reset();
  stored_sync_key_ = 0;
  account_dir_.clear();
  ResetSession();
}

void MailService::OpenAccount(uint32_t uin) {
  account_dir_ = options_.data_dir + "/" + std::to_string(uin);
  options_.fs->MakeDirs(account_dir_);
  if (store_ != nullptr && store_->uin() == uin) return;
  store_ = std::make_unique<store::AccountStore>(options_.fs);
  store_->Open(uin, options_.data_dir + "/");
  stored_sync_key_ = store_->GetSyncKey();
}

void MailService::SaveAccountProfile(const std::u16string& nickname,
                                     const std::u16string& address) {
  if (store_ == nullptr) OpenAccount(account_.session().uin);
  if (store_->GetNickName() != nickname || store_->GetEmailAddr() != address) {
    store_->SetAccountIdentity(address, nickname);
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
  const std::string session_key = account_.session().session_key;
  const uint32_t uin = account_.session().uin;
  for (auto& job : ready) {
    job->RenewSession(session_key, uin);
    const bool sync = job->GetJobType() == kJobSync;
    const int32_t id = pool_.AddJob(std::move(job));
    if (sync && sync_job_id_ == kSyncWaitingForLogin) {
      if (id > 0) {
        sync_job_id_ = id;
      } else {
        SyncOutcome outcome;
        outcome.step = -1;
        outcome.reason = sync_reason_;
        EndSync(static_cast<uint32_t>(kSyncWaitingForLogin), /*sent=*/false, outcome);
      }
    }
  }
}

// Update queries come with the update command; until then the notice is
// only traced.
void MailService::StartUpdateQuery(int reason) {
  WriteLog(kNetworkLog, "update query due (reason)", static_cast<uint32_t>(reason), 0);
}

void MailService::AuthDone(const commands::AuthOutcome& outcome) { auth_done_.Fire(outcome); }

}  // namespace engine
}  // namespace quill
