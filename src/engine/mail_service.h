// The mail service facade: the one object the screens and the command-line
// client talk to. It owns the login state, starts the network jobs through
// the worker pool (one login at a time), and turns their results into
// events.
//
// Threading: every member is called on the UI thread (the loop's thread),
// and every event handler runs there. Handlers are invoked without any lock
// held and may subscribe, unsubscribe or start another operation.
#ifndef QUILL_ENGINE_MAIL_SERVICE_H_
#define QUILL_ENGINE_MAIL_SERVICE_H_

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "commands/login_host.h"
#include "engine/account_state.h"
#include "engine/connection_manager.h"
#include "engine/exchange.h"
#include "engine/gateway_config.h"
#include "engine/http_connection_cache.h"
#include "engine/job_listener.h"
#include "engine/worker_pool.h"
#include "platform/file_system.h"
#include "platform/message_loop.h"
#include "store/config_file.h"
#include "store/global_settings.h"

namespace quill {
namespace engine {

struct MailServiceOptions {
  std::string data_dir;                  // holds "global.cfg" and the account directories
  GatewayConfig gateway;                 // where the gateway is
  std::array<uint8_t, 16> device_id{};   // DeviceId
  FileSystem* fs = nullptr;              // required
  ConnectionBackend* backend = nullptr;  // required
  HttpProber* prober = nullptr;          // may be null
  HttpOptions http;                      // timeouts of every exchange
};

class MailService : public JobListener, private commands::LoginHost {
 public:
  // Consecutive failed automatic logins after which no more are started.
  static constexpr uint32_t kMaxAutoLoginFailures = 5;

  using AuthDoneHandler = std::function<void(const commands::AuthOutcome&)>;

  // loop must outlive the service; the calling thread is its UI thread.
  MailService(MessageLoop* loop, MailServiceOptions options);
  ~MailService() override;
  MailService(const MailService&) = delete;
  MailService& operator=(const MailService&) = delete;

  // Starts a login; false when none was started (one is running, or the
  // automatic-login rules refuse it). A started login ends with exactly
  // one AuthDone.
  bool DoAuth(int access_point, bool user_initiated, std::u16string account,
              std::u16string password, bool auto_login);

  // Events. The id is for Unsubscribe; ids are never reused.
  int SubscribeAuthDone(AuthDoneHandler handler);
  void UnsubscribeAuthDone(int id);

  // Forgets the session (and its ticket) and the account number.
  void ResetSession();

  bool HasSession() const { return !account_.session().session_key.empty(); }
  AccountState& account() { return account_; }
  store::GlobalSettings& settings() { return settings_; }
  ConnectionManager& connections() { return connections_; }
  const GatewayConfig& gateway() const { return options_.gateway; }
  // The account directory of the signed-in account ("" before a login).
  const std::string& account_dir() const { return account_dir_; }

  // JobListener.
  void OnJobEvent(JobEventKind kind, int32_t code, int job_type, NetJob* job) override;
  void OnJobEnded(uint32_t job_id, int job_type, uint32_t user_data) override;

 private:
  // LoginHost.
  std::u16string LoginAccount() override;
  void SetLoginAccount(std::u16string account) override;
  void SetLoginPassword(std::u16string password) override;
  void SetSession(std::string session_key) override;
  void SetLoginUin(uint32_t uin) override;
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

  struct Subscriber {
    int id;                   // from SubscribeAuthDone
    AuthDoneHandler handler;  // the callback
  };

  MessageLoop* const loop_;
  const MailServiceOptions options_;
  store::GlobalSettings settings_;           // "global.cfg"
  AccountState account_;                     // login state and counters
  ConnectionManager connections_;            // over options_.backend
  HttpConnectionCache http_cache_;           // kept-alive gateway connections
  ExchangeContext exchange_;                 // shared by every job
  WorkerPool pool_;                          // runs the jobs
  std::string account_dir_;                  // data_dir/uin, "" before a login
  std::unique_ptr<store::ConfigFile> account_cfg_;  // its "account.cfg"
  int32_t auth_job_id_ = -1;                 // the running login, -1 none
  uint32_t auto_login_failures_ = 0;         // consecutive failed automatic logins
  bool auto_login_disabled_ = false;         // after a -8, for the rest of the run
  std::vector<std::unique_ptr<NetJob>> pending_;  // jobs waiting for a session
  std::vector<Subscriber> auth_done_;        // AuthDone subscribers
  int next_subscriber_id_ = 1;               // never reused
};

}  // namespace engine
}  // namespace quill

#endif  // QUILL_ENGINE_MAIL_SERVICE_H_
