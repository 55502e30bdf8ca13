// What every operation unit of the mail service shares: the settings, the
// account block the workers read, the connection manager and the exchange
// context, the worker pool and the session runner that starts jobs with
// it, the open account's store, the usage counters and the JobStarted /
// JobEnded events.
//
// Members are declared in the order they depend on each other; the owner
// (MailService) tears the pool down before any of them is destroyed, so no
// job callback ever reaches a destroyed member.
//
// Threading: UI thread only, except the account block (any thread, its own
// lock), the budget and the exchange context (read by workers).
#ifndef QUILL_FACADE_FACADE_CORE_H_
#define QUILL_FACADE_FACADE_CORE_H_

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/account_state.h"
#include "engine/connection_manager.h"
#include "engine/exchange.h"
#include "engine/gateway_config.h"
#include "engine/http_connection_cache.h"
#include "engine/worker_pool.h"
#include "facade/daily_sync_budget.h"
#include "facade/event_list.h"
#include "facade/session_runner.h"
#include "facade/usage_counters.h"
#include "platform/file_system.h"
#include "platform/message_loop.h"
#include "protocol/message_heads.h"
#include "store/account_store.h"
#include "store/global_settings.h"

namespace quill {
namespace facade {

class Operation;

struct MailServiceOptions {
  std::string data_dir;                  // holds "global.cfg" and the account directories
  engine::GatewayConfig gateway;         // where the gateway is
  std::array<uint8_t, 16> device_id{};   // DeviceId
  FileSystem* fs = nullptr;              // required
  engine::ConnectionBackend* backend = nullptr;  // required
  engine::HttpProber* prober = nullptr;  // may be null
  HttpOptions http;                      // timeouts of every exchange
  // Sync bytes allowed per 24 hours; "SyncNetFlowLimit" in global.cfg
  // overrides it.
  uint64_t daily_sync_limit = DailySyncBudget::kDefaultLimit;
  std::function<uint32_t()> tick_ms;     // the budget's clock; null: GetTickCount
  std::function<int64_t()> now_seconds; // the update notice's clock; null: NowSeconds
};

class FacadeCore {
 public:
  // loop must outlive the core; the calling thread is its UI thread.
  FacadeCore(MessageLoop* loop, MailServiceOptions options);
  ~FacadeCore();
  FacadeCore(const FacadeCore&) = delete;
  FacadeCore& operator=(const FacadeCore&) = delete;

  // Each operation unit registers once, so a session reset reaches it.
  void Register(Operation* operation) { operations_.push_back(operation); }
  // The session is gone: held jobs are abandoned, then every unit ends
  // what it runs (one result event each) and cancels its jobs.
  void EndSessionWork();

  // Opens the store of account uin (its directory is made when missing);
  // the open one stays when it is uin's.
  void OpenAccount(uint32_t uin);
  // Closes the open store (another account signed in).
  void CloseAccount();
  // The open account's store; null before a login or OpenSavedAccount.
  store::AccountStore* store() { return store_.get(); }
  // data_dir/uin, "" before an account was opened.
  const std::string& account_dir() const { return account_dir_; }

  // The head every request of the signed-in account carries. Needs a store.
  protocol::RequestHead SessionHead();
  bool HasSession() const { return !account_.session().session_key.empty(); }

  MessageLoop* loop() { return loop_; }
  const MailServiceOptions& options() const { return options_; }
  store::GlobalSettings& settings() { return settings_; }
  engine::AccountState& account() { return account_; }
  UsageCounters& usage() { return usage_; }
  int64_t run_start_seconds() const { return run_start_seconds_; }
  engine::ConnectionManager& connections() { return connections_; }
  const engine::ExchangeContext* exchange() const { return &exchange_; }
  engine::WorkerPool& pool() { return pool_; }
  SessionRunner& runner() { return runner_; }
  EventList<>& job_started() { return job_started_; }
  EventList<>& job_ended() { return job_ended_; }

 private:
  MessageLoop* const loop_;
  const MailServiceOptions options_;
  store::GlobalSettings settings_;               // "global.cfg"
  engine::AccountState account_;                 // login state and counters
  DailySyncBudget budget_;                       // the sync traffic of the day
  UsageCounters usage_;                          // statistics counters in settings_
  const int64_t run_start_seconds_;              // when the run began, for "StartTime"
  engine::ConnectionManager connections_;        // over options_.backend
  engine::HttpConnectionCache http_cache_;       // kept-alive gateway connections
  engine::ExchangeContext exchange_;             // shared by every job
  EventList<> job_started_;                      // after every start of a job
  EventList<> job_ended_;                        // once at the end of every started job
  engine::WorkerPool pool_;                      // runs the jobs
  SessionRunner runner_;                         // starts them, holds them for a login
  std::string account_dir_;                      // data_dir/uin, "" before a login
  std::unique_ptr<store::AccountStore> store_;   // the open account's data
  std::vector<Operation*> operations_;           // every unit, for EndSessionWork
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_FACADE_CORE_H_
