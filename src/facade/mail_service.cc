#include "facade/mail_service.h"

#include <set>
#include <utility>

#include "commands/auth_job.h"
#include "engine/dial_up_job.h"
#include "facade/mail_fetch_store.h"
#include "facade/sync_applier.h"
#include "engine/trace.h"
#include "platform/clock.h"
#include "protocol/message_heads.h"

namespace quill {
namespace facade {
namespace {

// The mail a fetch job is for; 0 for other jobs.
uint32_t MailIdOf(engine::NetJob* job) {
  if (auto* brief = dynamic_cast<commands::BriefJob*>(job)) return brief->mail_id();
  if (auto* body = dynamic_cast<commands::BodyJob*>(job)) return body->mail_id();
  return 0;
}

}  // namespace

MailService::MailService(MessageLoop* loop, MailServiceOptions options)
    : loop_(loop),
      options_(std::move(options)),
      settings_(options_.fs),
      budget_(&account_, options_.daily_sync_limit, options_.tick_ms),
      usage_(&settings_),
      run_start_seconds_(NowSeconds()),
      connections_(options_.backend, options_.prober, [this] {
        engine::ConnectionManager::Options o;
        if (!options_.gateway.proxy.empty()) {
          o.proxy_host = options_.gateway.proxy.substr(0, options_.gateway.proxy.rfind(':'));
        }
        return o;
      }()),
      pool_(loop) {
  settings_.SetDataDir(options_.data_dir);
  const store::StartupSettings startup = settings_.LoadAtStartup();
  budget_.SetLimit(settings_.file().GetUInt64(store::global_keys::kSyncNetFlowLimit.name,
                                              options_.daily_sync_limit));
  connections_.SetDestination(startup.net);
  engine::TransferTotals totals;
  totals.sent = startup.send_total;
  totals.received = startup.recv_total;
  account_.SetTotals(totals);
  account_.SetLoginAccount(settings_.Get(store::global_keys::kUinName));
  exchange_.connections = &connections_;
  exchange_.gateway = &options_.gateway;
  exchange_.account = &account_;
  exchange_.http_cache = &http_cache_;
  exchange_.http = options_.http;
  exchange_.budget = &budget_;
}

MailService::~MailService() {
  // The jobs' last ends arrive here, while every member still lives.
  pool_.Teardown();
  usage_.Flush();
  const engine::TransferTotals totals = account_.totals();
  settings_.SaveTrafficTotals(totals.received, totals.sent);
}

bool MailService::DoAuth(int access_point, bool user_initiated, std::u16string account,
                         std::u16string password, bool auto_login) {
  if (user_initiated) {
    auto_login_failures_ = 0;
    CancelLogin();
  } else {
    if (auto_login_disabled_ || auto_login_failures_ >= kMaxAutoLoginFailures) return false;
    if (auth_job_id_ != -1) {
      engine::WriteLog(engine::kNetworkLog, "DoAuth and but is Authing", 0, 0);
      return true;
    }
  }
  // Empty texts: the account block's, else the account saved for automatic
  // logins.
  if (account.empty()) account = account_.login_account();
  if (account.empty()) account = settings_.Get(store::global_keys::kUinName);
  if (password.empty()) password = account_.login_password();
  if (password.empty()) password = settings_.Get(store::global_keys::kPwd);
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
  const int32_t id = Queue(std::move(job));
  if (id <= 0) return false;
  auth_job_id_ = id;
  engine::WriteLog(engine::kNetworkLog, "DoAuth begin", 0, 0);
  job_started_.Fire();
  return true;
}

void MailService::CancelLogin() {
  const int32_t id = auth_job_id_;
  if (id == -1) return;
  auth_job_id_ = -1;
  Cancel(static_cast<uint32_t>(id));
  auth_done_.Fire(commands::AuthOutcome{});
}

void MailService::ResetSession() {
  EndSessionJobs();
  CancelLogin();
  const std::set<uint32_t> live = live_jobs_;
  for (uint32_t id : live) Cancel(id);
  account_.SetLoginAccount(std::u16string());
  account_.SetLoginPassword(std::u16string());
  account_.ClearSession();
  account_.SetUin(0);
}

void MailService::EndSessionJobs() {
  DropPendingJobs();
  // The running jobs belong to the old session: each ends now, once, and
  // is cancelled; whatever it still delivers finds its slot cleared.
  const int32_t sync_id = sync_job_id_;
  if (sync_id != -1) {
    SyncOutcome outcome;
    outcome.step = -1;
    outcome.reason = sync_reason_;
    EndSync(static_cast<uint32_t>(sync_id), /*sent=*/false, outcome);
    if (sync_id > 0) Cancel(static_cast<uint32_t>(sync_id));
  }
  for (int type : {engine::kJobMailBrief, engine::kJobMailBody}) CancelFetch(type);
}

bool MailService::StartSessionJob(std::unique_ptr<engine::NetJob> job, int32_t* slot) {
  job->set_listener(this);
  if (HasSession()) {
    const int32_t id = Queue(std::move(job));
    if (id <= 0) return false;
    *slot = id;
    job_started_.Fire();
    return true;
  }
  if (!DoAuth(connections_.destination(), /*user_initiated=*/false, std::u16string(),
              std::u16string(), /*auto_login=*/true)) {
    return false;
  }
  pending_.push_back(std::move(job));
  *slot = kWaitingForLogin;
  return true;
}

void MailService::OnJobEvent(engine::JobEventKind kind, int32_t code, int job_type, engine::NetJob* job) {
  usage_.Count(job_type, kind, code);
  if (kind != engine::JobEventKind::kData || code != protocol::kSessionKeyError) return;
  const int32_t id = static_cast<int32_t>(job->job_id());
  if (job_type == engine::kJobSync && id == sync_job_id_) {
    if (!RetryAfterLogin(job, &sync_job_id_, &sync_retries_)) {
      SyncOutcome outcome;
      outcome.code = code;
      outcome.step = -2;
      outcome.reason = sync_reason_;
      EndSync(job->job_id(), /*sent=*/false, outcome);
    }
    return;
  }
  int32_t* slot = FetchSlot(job_type);
  if (slot == nullptr || id != *slot) return;
  if (!RetryAfterLogin(job, slot, job_type == engine::kJobMailBrief ? &brief_retries_ : &body_retries_)) {
    EndFetch(job->job_id(), job_type, FetchOutcome{false, code, MailIdOf(job)});
  }
}

bool MailService::RetryAfterLogin(engine::NetJob* job, int32_t* slot, int* retries) {
  // Bounded, since the service could answer -3 after every fresh login.
  if (*retries >= kMaxSessionRetries) return false;
  ++*retries;
  std::unique_ptr<engine::NetJob> copy;
  switch (job->GetJobType()) {
    case engine::kJobSync:
      engine::WriteLog(engine::kNetworkLog, "DoSync svr ret sessionkey err, auth and then will retry", 0, 0);
      copy = std::make_unique<commands::SyncJob>(&exchange_, static_cast<commands::SyncHost*>(this),
                                                 commands::SyncRequest());
      break;
    case engine::kJobMailBrief:
      engine::WriteLog(engine::kNetworkLog, "GetMailBrief svr ret sessionkey err, auth and then will retry", 0, 0);
      copy = std::make_unique<commands::BriefJob>(
          &exchange_, static_cast<commands::MailFetchHost*>(this), 0, commands::BriefRequest());
      break;
    case engine::kJobMailBody:
      engine::WriteLog(engine::kNetworkLog, "MailBody svr ret sessionkey err, auth and then will retry", 0, 0);
      copy = std::make_unique<commands::BodyJob>(
          &exchange_, static_cast<commands::MailFetchHost*>(this), 0, commands::BodyRequest());
      break;
    default:
      return false;
  }
  account_.SetSession(std::string());
  job->CopyRequestTo(copy.get());
  copy->set_listener(this);
  pending_.push_back(std::move(copy));
  *slot = kWaitingForLogin;  // the copy, not yet started
  if (!DoAuth(connections_.destination(), /*user_initiated=*/false, std::u16string(),
              std::u16string(), /*auto_login=*/true)) {
    DropPendingJobs();
  }
  return true;
}

void MailService::CancelFetch(int job_type) {
  int32_t* slot = FetchSlot(job_type);
  const int32_t id = *slot;
  if (id == -1) return;
  EndFetch(static_cast<uint32_t>(id), job_type, FetchOutcome{false, 0, 0});
  if (id != kWaitingForLogin) {
    Cancel(static_cast<uint32_t>(id));
    return;
  }
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if ((*it)->GetJobType() == job_type) {
      pending_.erase(it);
      return;
    }
  }
}

int32_t MailService::Queue(std::unique_ptr<engine::NetJob> job) {
  const int32_t id = pool_.AddJob(std::move(job));
  if (id > 0) live_jobs_.insert(static_cast<uint32_t>(id));
  return id;
}

void MailService::Cancel(uint32_t job_id) {
  // 0: the job was freed before any worker took it, so the pool reports no
  // end for it; it ends here.
  if (pool_.CancelJob(job_id) == 0 && live_jobs_.erase(job_id) != 0) job_ended_.Fire();
}

int32_t* MailService::FetchSlot(int job_type) {
  if (job_type == engine::kJobMailBrief) return &brief_job_id_;
  if (job_type == engine::kJobMailBody) return &body_job_id_;
  return nullptr;
}

protocol::RequestHead MailService::SessionHead() {
  protocol::RequestHead head;
  head.session_key = account_.session().session_key;
  head.uin = account_.session().uin;
  head.data_id = store_->GetAccountDataId(options_.device_id);
  head.sync_key = store_->GetSyncKey();
  return head;
}

uint32_t MailService::ServerIdToFetch(uint32_t mail_id, const char* refusal) {
  const uint32_t server_id = store_ == nullptr ? 0 : store_->mails()->GetServerID(mail_id);
  if (server_id == 0 || server_id == store::kLocalServerId) {
    engine::WriteLog(engine::kNetworkLog, refusal, mail_id, 0);
    return 0;
  }
  return server_id;
}

bool MailService::DoGetMailBrief(uint32_t mail_id) {
  const uint32_t server_id = ServerIdToFetch(mail_id, "DoGetMailBrief Get ServerID Failed (MAILID)");
  if (server_id == 0) return false;
  commands::BriefRequest request;
  request.head = SessionHead();
  request.server_id = server_id;
  CancelFetch(engine::kJobMailBrief);
  brief_retries_ = 0;
  if (!StartSessionJob(std::make_unique<commands::BriefJob>(
                           &exchange_, static_cast<commands::MailFetchHost*>(this), mail_id,
                           std::move(request)),
                       &brief_job_id_)) {
    return false;
  }
  engine::WriteLog(engine::kNetworkLog, "DoGetMailBrief begin", mail_id, 0);
  return true;
}

bool MailService::DoGetMailBody(uint32_t mail_id, int32_t offset, int32_t version) {
  if (offset < 0) return false;
  const uint32_t server_id = ServerIdToFetch(mail_id, "DoGetMailBody Get ServerID Failed (MAILID)");
  if (server_id == 0) return false;
  commands::BodyRequest request;
  request.head = SessionHead();
  request.server_id = server_id;
  request.offset = offset;
  request.version = version;
  CancelFetch(engine::kJobMailBody);
  body_retries_ = 0;
  if (!StartSessionJob(std::make_unique<commands::BodyJob>(
                           &exchange_, static_cast<commands::MailFetchHost*>(this), mail_id,
                           std::move(request)),
                       &body_job_id_)) {
    return false;
  }
  engine::WriteLog(engine::kNetworkLog, "DoGetMailBody begin", mail_id, 0);
  return true;
}

void MailService::BriefArrived(uint32_t job_id, uint32_t mail_id,
                               const commands::BriefResponse& brief) {
  if (static_cast<int32_t>(job_id) != brief_job_id_ || store_ == nullptr) return;  // stale
  if (brief.head.result == protocol::kSessionKeyError) return;  // renewed in OnJobEvent
  FetchOutcome outcome{false, brief.head.result, mail_id};
  if (brief.head.result == 0) {
    outcome.ok = StoreBrief(store_.get(), mail_id, brief);
    engine::WriteLog(engine::kNetworkLog, "DoGetMailBrief end ok (ServerID, MailID)", brief.server_id, mail_id);
    if (brief.sync_needed != 0) DoSync(4);
  } else {
    engine::WriteLog(engine::kNetworkLog, "DoGetMailBrief end err(errcode)", static_cast<uint32_t>(brief.head.result), 0);
  }
  EndFetch(job_id, engine::kJobMailBrief, outcome);
}

void MailService::BodyArrived(uint32_t job_id, uint32_t mail_id, int32_t asked_offset,
                              const commands::BodyResponse& body) {
  if (static_cast<int32_t>(job_id) != body_job_id_ || store_ == nullptr) return;  // stale
  if (body.head.result == protocol::kSessionKeyError) return;  // renewed in OnJobEvent
  FetchOutcome outcome{false, body.head.result, mail_id};
  if (body.head.result == 0 || body.head.result == commands::kBodyVersionChanged) {
    outcome.ok = StoreBodySlice(store_.get(), mail_id, asked_offset, body);
    if (body.sync_needed != 0) DoSync(4);
  }
  EndFetch(job_id, engine::kJobMailBody, outcome);
}

void MailService::FetchFailed(uint32_t job_id, int job_type, uint32_t mail_id,
                              uint32_t system_error, uint32_t) {
  EndFetch(job_id, job_type, FetchOutcome{false, static_cast<int32_t>(system_error), mail_id});
}

void MailService::FetchAbandoned(uint32_t job_id, int job_type, uint32_t mail_id) {
  EndFetch(job_id, job_type, FetchOutcome{false, 0, mail_id});
}

void MailService::EndFetch(uint32_t job_id, int job_type, const FetchOutcome& outcome) {
  int32_t* slot = FetchSlot(job_type);
  if (slot == nullptr || static_cast<int32_t>(job_id) != *slot) return;  // not the slot's job
  *slot = -1;
  (job_type == engine::kJobMailBrief ? brief_done_ : body_done_).Fire(outcome);
}

void MailService::OnJobEnded(uint32_t job_id, int job_type, uint32_t) {
  if (job_type == engine::kJobLogin && static_cast<int32_t>(job_id) == auth_job_id_) auth_job_id_ = -1;
  // A sync that ended without its last page (no connection, the pool going
  // away) still ends once.
  if (job_type == engine::kJobSync && static_cast<int32_t>(job_id) == sync_job_id_) {
    SyncOutcome outcome;
    outcome.step = static_cast<int32_t>(engine::kStepNoConnection);
    outcome.reason = sync_reason_;
    EndSync(job_id, /*sent=*/false, outcome);
  }
  if (int32_t* slot = FetchSlot(job_type); slot != nullptr && static_cast<int32_t>(job_id) == *slot) {
    EndFetch(job_id, job_type, FetchOutcome{false, 0, 0});
  }
  usage_.Flush();
  if (live_jobs_.erase(job_id) != 0) job_ended_.Fire();
}

bool MailService::DoSync(int32_t reason) {
  if (store_ == nullptr) return false;
  if (auth_job_id_ != -1) {
    engine::WriteLog(engine::kNetworkLog, "DoSync Is authing return false", 0, 0);
    return false;
  }
  if (sync_job_id_ != -1) {
    engine::WriteLog(engine::kNetworkLog, "DoSync Is syncing return false", 0, 0);
    return false;
  }
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
  sync_reason_ = reason;
  sync_commit_tick_ = GetTickCount();
  sync_new_mails_ = 0;
  sync_retries_ = 0;
  if (!StartSessionJob(std::make_unique<commands::SyncJob>(
                           &exchange_, static_cast<commands::SyncHost*>(this), std::move(request)),
                       &sync_job_id_)) {
    store_->commands()->FinishBatch(false);
    return false;
  }
  engine::WriteLog(engine::kNetworkLog, "DoSync begin", static_cast<uint32_t>(reason), 0);
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
  // The store is made durable with the key at the last page and about once
  // a second before it: a crash costs at most that much work again.
  const uint32_t now = GetTickCount();
  const bool durable = final_page || now - sync_commit_tick_ >= kSyncCommitIntervalMs;
  if (durable) sync_commit_tick_ = now;
  if (ApplySyncPage(store_.get(), page, durable, &stats)) stored_sync_key_ = page.new_key;
  const bool first_new = sync_new_mails_ == 0 && stats.unread_added > 0;
  sync_new_mails_ += stats.unread_added;
  if (first_new) new_mail_found_.Fire();
  if (!final_page) {
    job_started_.Fire();  // the worker asks for the next page
    return;
  }
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
  if (store_ != nullptr) {
    store_->CommitSyncKey();
    store_->commands()->FinishBatch(sent);
  }
  // Once a sync succeeded in this run, every sync end is recorded.
  first_sync_done_ |= outcome.ok;
  if (first_sync_done_) usage_.RecordSyncTimes(run_start_seconds_, NowSeconds());
  const int new_mails = sync_new_mails_;
  sync_new_mails_ = 0;
  if (outcome.ok && new_mails > 0) new_mail_.Fire(new_mails);
  sync_done_.Fire(outcome);
}

bool MailService::DoConnect(int destination) {
  auto job = std::make_unique<engine::DialUpJob>(&connections_, destination,
                                         [this](engine::NetworkType type) { connect_done_.Fire(type); });
  job->set_listener(this);
  return Queue(std::move(job)) > 0;
}

bool MailService::OpenSavedAccount() {
  const uint64_t uin = settings_.Get(store::global_keys::kUinNum);
  if (uin == 0 || uin > UINT32_MAX) return false;
  OpenAccount(static_cast<uint32_t>(uin));
  return store_ != nullptr && store_->opened();
}

std::u16string MailService::LoginAccount() { return account_.login_account(); }
// The texts themselves are never logged: they are credentials.
void MailService::SetLoginAccount(std::u16string account) {
  engine::WriteLog(engine::kNetworkLog, "SetLoginAccount", 0, 0);
  account_.SetLoginAccount(std::move(account));
}
void MailService::SetLoginPassword(std::u16string password) {
  engine::WriteLog(engine::kNetworkLog, "SetLoginPsw", 0, 0);
  account_.SetLoginPassword(std::move(password));
}
void MailService::SetSession(std::string session_key) {
  engine::WriteLog(engine::kNetworkLog, "SetSession", 0, 0);
  account_.SetSession(std::move(session_key));
}
void MailService::SetLoginUin(uint32_t uin) {
  engine::WriteLog(engine::kNetworkLog, "SetLoginUin", uin, 0);
  account_.SetUin(uin);
}

// Called by the login that succeeded for another account: it keeps running.
void MailService::SwitchAccount() {
  EndSessionJobs();  // first: a running sync hands its batch back to the old store
  store_.reset();
  stored_sync_key_ = 0;
  account_dir_.clear();
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
  std::vector<std::unique_ptr<engine::NetJob>> dropped;
  dropped.swap(pending_);
  for (auto& job : dropped) job->Abandon();
}

void MailService::RunPendingJobs() {
  std::vector<std::unique_ptr<engine::NetJob>> ready;
  ready.swap(pending_);
  const std::string session_key = account_.session().session_key;
  const uint32_t uin = account_.session().uin;
  // The most recently queued first.
  for (auto it = ready.rbegin(); it != ready.rend(); ++it) {
    std::unique_ptr<engine::NetJob>& job = *it;
    job->RenewSession(session_key, uin);
    const int type = job->GetJobType();
    int32_t* slot = type == engine::kJobSync ? &sync_job_id_ : FetchSlot(type);
    const uint32_t mail_id = MailIdOf(job.get());
    const int32_t id = Queue(std::move(job));
    if (id > 0) job_started_.Fire();
    if (slot == nullptr || *slot != kWaitingForLogin) continue;
    if (id > 0) {
      *slot = id;
    } else if (type == engine::kJobSync) {
      SyncOutcome outcome;
      outcome.step = -1;
      outcome.reason = sync_reason_;
      EndSync(static_cast<uint32_t>(kWaitingForLogin), /*sent=*/false, outcome);
    } else {
      EndFetch(static_cast<uint32_t>(kWaitingForLogin), type, FetchOutcome{false, 0, mail_id});
    }
  }
}

// Update queries come with the update command; until then the notice is
// only traced.
void MailService::StartUpdateQuery(int reason) {
  engine::WriteLog(engine::kNetworkLog, "update query due (reason)", static_cast<uint32_t>(reason), 0);
}

void MailService::AuthDone(const commands::AuthOutcome& outcome) { auth_done_.Fire(outcome); }

}  // namespace facade
}  // namespace quill
