// The login family: the user's logins and the silent ones that the other
// operations start when they find no session or an expired one, the
// automatic-login bookkeeping, and what a finished login changes (the
// LoginHost the login job completes through).
//
// A user's login replaces a running one; a silent login joins a running
// one, and is refused for the rest of the run after a -8 answer, or after
// kMaxAutoLoginFailures failed silent logins in a row (until a user's
// login or a success).
//
// Threading: UI thread only.
#ifndef QUILL_FACADE_LOGIN_OPERATION_H_
#define QUILL_FACADE_LOGIN_OPERATION_H_

#include <cstdint>
#include <functional>
#include <string>

#include "commands/login_host.h"
#include "facade/event_list.h"
#include "facade/job_slot.h"
#include "facade/operation.h"

namespace quill {
namespace facade {

class LoginOperation : public Operation, private commands::LoginHost {
 public:
  static constexpr uint32_t kMaxAutoLoginFailures = 5;

  // core must outlive the unit.
  explicit LoginOperation(FacadeCore* core);

  // Starts a login (MailService::DoAuth).
  bool DoAuth(int access_point, bool user_initiated, std::u16string account,
              std::u16string password, bool auto_login);
  // A silent login with the stored account and password, for held jobs.
  bool StartSilentLogin();
  // Ends the running login now as replaced (one AuthDone with `replaced`)
  // and cancels its job, which then applies nothing it still receives.
  void Cancel();

  // Starts the update query a login asks for (commands::UpdateQueryReason).
  void set_update_query(std::function<void(int32_t reason)> start) {
    update_query_ = std::move(start);
  }

  // From the start of a login until its AuthDone.
  bool running() const { return slot_.busy(); }
  EventList<const commands::AuthOutcome&>& done() { return done_; }

  // The account block's setters (LoginHost), also public to the service.
  void SetLoginAccount(std::u16string account) override;
  void SetLoginPassword(std::u16string password) override;
  void SetSession(std::string session_key) override;
  void SetLoginUin(uint32_t uin) override;

 private:
  void JobGone(uint32_t job_id, int job_type) override;

  // LoginHost.
  bool IsCurrentLogin(uint32_t job_id) override { return slot_.Holds(job_id); }
  std::u16string LoginAccount() override;
  void SwitchAccount() override;
  void OpenAccount(uint32_t uin) override;
  void SaveAccountProfile(const std::u16string& nickname, const std::u16string& address) override;
  store::GlobalSettings* Settings() override;
  void RememberDestination(int access_point) override;
  void DisableAutoLogin() override { auto_login_disabled_ = true; }
  void CountAutoLoginFailure() override { ++auto_login_failures_; }
  void ResetAutoLoginFailures() override { auto_login_failures_ = 0; }
  void DropPendingJobs() override;
  void RunPendingJobs() override;
  void StartUpdateQuery(int reason) override;
  void AuthDone(const commands::AuthOutcome& outcome) override;

  JobSlot slot_{0};                     // the running login; never retried
  uint32_t auto_login_failures_ = 0;    // consecutive failed silent logins
  bool auto_login_disabled_ = false;    // after a -8, for the rest of the run
  std::function<void(int32_t)> update_query_;  // the update unit's query
  EventList<const commands::AuthOutcome&> done_;
};

}  // namespace facade
}  // namespace quill

#endif  // QUILL_FACADE_LOGIN_OPERATION_H_
