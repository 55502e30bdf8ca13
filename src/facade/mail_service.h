// The mail service facade: the one object the screens and the command-line
// client talk to. It owns the login state, starts the network jobs through
// the worker pool (one login at a time), and turns their results into
// events.
//
// Threading: every member is called on the UI thread (the loop's thread),
// and every event handler runs there. Handlers are invoked without any lock
// held and may subscribe, unsubscribe or start another operation.
#ifndef QUILL_FACADE_MAIL_SERVICE_H_
#define QUILL_FACADE_MAIL_SERVICE_H_

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "commands/login_host.h"
#include "commands/mail_fetch_job.h"
#include "commands/sync_job.h"
#include "engine/account_state.h"
#include "engine/connection_manager.h"
#include "facade/daily_sync_budget.h"
#include "facade/event_list.h"
#include "engine/exchange.h"
#include "engine/gateway_config.h"
#include "engine/http_connection_cache.h"
#include "engine/job_listener.h"
#include "facade/usage_counters.h"
#include "engine/worker_pool.h"
#include "platform/file_system.h"
#include "platform/message_loop.h"
#include "store/account_store.h"
#include "store/global_settings.h"

namespace quill {
namespace facade {

struct MailServiceOptions {
  std::string data_dir;                  // holds "global.cfg" and the account directories
  engine::GatewayConfig gateway;                 // where the gateway is
  std::array<uint8_t, 16> device_id{};   // DeviceId
  FileSystem* fs = nullptr;              // required
  engine::ConnectionBackend* backend = nullptr;  // required
  engine::HttpProber* prober = nullptr;          // may be null
  HttpOptions http;                      // timeouts of every exchange
  // Sync bytes allowed per 24 hours; "SyncNetFlowLimit" in global.cfg
  // overrides it.
  uint64_t daily_sync_limit = DailySyncBudget::kDefaultLimit;
  std::function<uint32_t()> tick_ms;     // the budget's clock; null: GetTickCount
};

// How a sync ended: ok, the result or platform error, the failing step
// (0 success, -1 abandoned, -2 refused by the service, else the exchange's
// step), and the reason it was started with.
struct SyncOutcome {
  bool ok = false;
  int32_t code = 0;
  int32_t step = 0;
  int32_t reason = 0;
};

// How a brief or body fetch ended: ok, the result (or platform error) and
// the mail.
struct FetchOutcome {
  bool ok = false;
  int32_t code = 0;
  uint32_t mail_id = 0;
};

class MailService : public engine::JobListener,
                    private commands::LoginHost,
                    private commands::SyncHost,
                    private commands::MailFetchHost {
 public:
  // Consecutive failed automatic logins after which no more are started.
  static constexpr uint32_t kMaxAutoLoginFailures = 5;
  // Silent logins one operation may cause by -3 answers.
  static constexpr int kMaxSessionRetries = 2;
  // A slot while the copy of an expired job waits for its login (the
  // copy's job id until it is queued).
  static constexpr int32_t kWaitingForLogin = 0;
  // Longest stretch of a sync whose pages are applied without making the
  // store durable.
  static constexpr uint32_t kSyncCommitIntervalMs = 1000;

  using AuthDoneHandler = std::function<void(const commands::AuthOutcome&)>;
  using SyncDoneHandler = std::function<void(const SyncOutcome&)>;
  using NewMailHandler = std::function<void(int count)>;
  using FetchDoneHandler = std::function<void(const FetchOutcome&)>;
  using SignalHandler = std::function<void()>;

  // loop must outlive the service; the calling thread is its UI thread.
  MailService(MessageLoop* loop, MailServiceOptions options);
  ~MailService() override;
  MailService(const MailService&) = delete;
  MailService& operator=(const MailService&) = delete;

  // Starts a login. A user's login cancels a running one; an automatic
  // login joins a running one (true) and is refused (false) once automatic
  // logins are off: after a -8, or kMaxAutoLoginFailures failures in a row.
  // An empty account or password means the stored one. A started login
  // ends with exactly one AuthDone.
  bool DoAuth(int access_point, bool user_initiated, std::u16string account,
              std::u16string password, bool auto_login);

  // Starts a sync of the signed-in account; false when none was started (no
  // store, a login or another sync running, no login possible). Without a
  // session the sync waits for a silent login. A started sync ends with
  // exactly one SyncDone, after its last page.
  bool DoSync(int32_t reason);

  // Fetch the head and the beginning of a mail's body, or the rest of its
  // body from `offset` (UTF-16 units held) for the body version held. A new
  // request of a kind cancels the running one; without a session it waits
  // for a silent login. False when the mail is unknown or nothing was
  // started or queued; a started fetch ends with one BriefDone / BodyDone.
  bool DoGetMailBrief(uint32_t mail_id);
  bool DoGetMailBody(uint32_t mail_id, int32_t offset, int32_t version);

  // Brings up the connection of a destination on a worker; false when the
  // job could not be queued. A started dial ends with one ConnectDone.
  bool DoConnect(int destination);

  // Opens the store of the account saved by the last login, for work
  // without the service. False when there is none.
  bool OpenSavedAccount();

  // Events. The id is for Unsubscribe; ids are never reused.
  int SubscribeAuthDone(AuthDoneHandler handler) { return auth_done_.Subscribe(std::move(handler)); }
  void UnsubscribeAuthDone(int id) { auth_done_.Unsubscribe(id); }
  int SubscribeSyncDone(SyncDoneHandler handler) { return sync_done_.Subscribe(std::move(handler)); }
  void UnsubscribeSyncDone(int id) { sync_done_.Unsubscribe(id); }
  // Once per sync that added unread mails, with their number.
  int SubscribeNewMailArrived(NewMailHandler handler) {
    return new_mail_.Subscribe(std::move(handler));
  }
  void UnsubscribeNewMailArrived(int id) { new_mail_.Unsubscribe(id); }
  int SubscribeBriefDone(FetchDoneHandler handler) { return brief_done_.Subscribe(std::move(handler)); }
  void UnsubscribeBriefDone(int id) { brief_done_.Unsubscribe(id); }
  int SubscribeBodyDone(FetchDoneHandler handler) { return body_done_.Subscribe(std::move(handler)); }
  void UnsubscribeBodyDone(int id) { body_done_.Unsubscribe(id); }
  // The network type a DoConnect reached (kNetNone: none).
  int SubscribeConnectDone(std::function<void(engine::NetworkType)> handler) {
    return connect_done_.Subscribe(std::move(handler));
  }
  void UnsubscribeConnectDone(int id) { connect_done_.Unsubscribe(id); }
  // After every start of a job (and of each further page of a sync).
  int SubscribeJobStarted(SignalHandler handler) { return job_started_.Subscribe(std::move(handler)); }
  void UnsubscribeJobStarted(int id) { job_started_.Unsubscribe(id); }
  // Once at the end of every started job, whatever its outcome.
  int SubscribeJobEnded(SignalHandler handler) { return job_ended_.Subscribe(std::move(handler)); }
  void UnsubscribeJobEnded(int id) { job_ended_.Unsubscribe(id); }
  // At the first unread mail a sync adds.
  int SubscribeNewMailFound(SignalHandler handler) {
    return new_mail_found_.Subscribe(std::move(handler));
  }
  void UnsubscribeNewMailFound(int id) { new_mail_found_.Unsubscribe(id); }

  // Forgets the session: waiting jobs are abandoned, running ones
  // cancelled and their late results ignored (a running sync or fetch ends
  // at once as abandoned), and the account texts, session and number are
  // cleared.
  void ResetSession();

  // The account block's setters (also used by the login job).
  void SetLoginAccount(std::u16string account) override;
  void SetLoginPassword(std::u16string password) override;
  void SetSession(std::string session_key) override;
  void SetLoginUin(uint32_t uin) override;

  // A login job holds the login slot (until its job end).
  bool LoginRunning() const { return auth_job_id_ != -1; }
  bool HasSession() const { return !account_.session().session_key.empty(); }
  engine::AccountState& account() { return account_; }
  store::GlobalSettings& settings() { return settings_; }
  engine::ConnectionManager& connections() { return connections_; }
  const engine::GatewayConfig& gateway() const { return options_.gateway; }
  // The account directory of the signed-in account ("" before a login).
  const std::string& account_dir() const { return account_dir_; }
  // The open account's store; null before a login or OpenSavedAccount.
  store::AccountStore* store() { return store_.get(); }

  // JobListener.
  void OnJobEvent(engine::JobEventKind kind, int32_t code, int job_type, engine::NetJob* job) override;
  void OnJobEnded(uint32_t job_id, int job_type, uint32_t user_data) override;

 private:
  // LoginHost.
  bool IsCurrentLogin(uint32_t job_id) override {
    return static_cast<int32_t>(job_id) == auth_job_id_;
  }
  std::u16string LoginAccount() override;
  void SwitchAccount() override;
  void OpenAccount(uint32_t uin) override;
  void SaveAccountProfile(const std::u16string& nickname, const std::u16string& address) override;
  store::GlobalSettings* Settings() override { return &settings_; }
  void RememberDestination(int access_point) override;
  void DisableAutoLogin() override { auto_login_disabled_ = true; }
  void CountAutoLoginFailure() override { ++auto_login_failures_; }
  void ResetAutoLoginFailures() override { auto_login_failures_ = 0; }
  void DropPendingJobs() override;
  void RunPendingJobs() override;
  void StartUpdateQuery(int reason) override;
  void AuthDone(const commands::AuthOutcome& outcome) override;

  // SyncHost.
  int32_t StoredSyncKey() const override { return stored_sync_key_.load(); }
  void SyncPageArrived(uint32_t job_id, const commands::SyncResponse& page, bool final_page,
                       int32_t reason) override;
  void SyncFailed(uint32_t job_id, uint32_t system_error, uint32_t step, int32_t reason) override;
  void SyncAbandoned(uint32_t job_id, int32_t reason) override;
  // MailFetchHost.
  void BriefArrived(uint32_t job_id, uint32_t mail_id, const commands::BriefResponse& brief) override;
  void BodyArrived(uint32_t job_id, uint32_t mail_id, int32_t asked_offset,
                   const commands::BodyResponse& body) override;
  void FetchFailed(uint32_t job_id, int job_type, uint32_t mail_id, uint32_t system_error,
                   uint32_t step) override;
  void FetchAbandoned(uint32_t job_id, int job_type, uint32_t mail_id) override;
  // Ends the fetch held by job_id in its slot with one event.
  void EndFetch(uint32_t job_id, int job_type, const FetchOutcome& outcome);
  int32_t* FetchSlot(int job_type);
  // The ServerID of a mail the service holds; 0 (refusal logged) for an
  // unknown or local mail, or no open store.
  uint32_t ServerIdToFetch(uint32_t mail_id, const char* refusal);
  // The head every request of the signed-in account carries.
  protocol::RequestHead SessionHead();
  // After a -3 answer: a copy of the job waits for a silent login. False
  // when the retries of the operation are used up.
  bool RetryAfterLogin(engine::NetJob* job, int32_t* slot, int* retries);

  // Ends the sync held by job_id: the batch of client commands back to the
  // queue unless `sent`, the new-mail event, SyncDone.
  void EndSync(uint32_t job_id, bool sent, const SyncOutcome& outcome);
  // Queues a job of `slot` with the pool, or, without a session, behind a
  // silent login. False (the job dropped) when neither was possible.
  bool StartSessionJob(std::unique_ptr<engine::NetJob> job, int32_t* slot);
  // Abandons the waiting jobs and ends and cancels the running sync and
  // fetches, each with its one result event.
  void EndSessionJobs();
  // Queues a job with the pool; its id, or -1.
  int32_t Queue(std::unique_ptr<engine::NetJob> job);
  // Cancels a queued or running job; it gets its JobEnded either way.
  void Cancel(uint32_t job_id);
  // Ends the running login now, as abandoned (one AuthDone), and cancels
  // its job, which then applies nothing it still receives.
  void CancelLogin();
  // A new fetch of a kind replaces the running one: that one ends now as
  // abandoned, its job cancelled, or dropped while it waits for a login.
  void CancelFetch(int job_type);

  MessageLoop* const loop_;
  const MailServiceOptions options_;
  store::GlobalSettings settings_;           // "global.cfg"
  engine::AccountState account_;                     // login state and counters
  DailySyncBudget budget_;                   // the sync traffic of the day
  UsageCounters usage_;                      // statistics counters in settings_
  const int64_t run_start_seconds_;          // when the service was made, for "StartTime"
  engine::ConnectionManager connections_;            // over options_.backend
  engine::HttpConnectionCache http_cache_;           // kept-alive gateway connections
  engine::ExchangeContext exchange_;                 // shared by every job
  engine::WorkerPool pool_;                          // runs the jobs
  std::string account_dir_;                  // data_dir/uin, "" before a login
  std::unique_ptr<store::AccountStore> store_;  // the open account's data
  std::atomic<int32_t> stored_sync_key_{0};  // the store's sync key, for the sync worker
  int32_t auth_job_id_ = -1;                 // the running login, -1 none
  int32_t sync_job_id_ = -1;                 // the running sync, -1 none
  int32_t sync_reason_ = 0;                  // reason of the running sync
  int sync_retries_ = 0;                     // its silent logins so far
  int32_t brief_job_id_ = -1;                // the running brief fetch, -1 none
  int32_t body_job_id_ = -1;                 // the running body fetch, -1 none
  int brief_retries_ = 0;                    // silent logins of the brief fetch
  int body_retries_ = 0;                     // silent logins of the body fetch
  int sync_new_mails_ = 0;                   // unread mails added by the running sync
  uint32_t sync_commit_tick_ = 0;            // when the running sync last made the store durable
  bool first_sync_done_ = false;             // a sync succeeded in this run
  uint32_t auto_login_failures_ = 0;         // consecutive failed automatic logins
  bool auto_login_disabled_ = false;         // after a -8, for the rest of the run
  std::vector<std::unique_ptr<engine::NetJob>> pending_;  // jobs waiting for a session
  std::set<uint32_t> live_jobs_;             // queued with the pool, JobEnded not yet fired
  EventList<const commands::AuthOutcome&> auth_done_;
  EventList<const SyncOutcome&> sync_done_;
  EventList<int> new_mail_;
  EventList<const FetchOutcome&> brief_done_;
  EventList<const FetchOutcome&> body_done_;
  EventList<engine::NetworkType> connect_done_;
  EventList<> job_started_;
  EventList<> job_ended_;
  EventList<> new_mail_found_;
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_MAIL_SERVICE_H_
