// What a finished login changes outside the job: the account's session and
// settings, the pending jobs, the connection, and the announcement. The mail
// service facade implements it.
//
// Threading: every call is made on the UI thread.
#ifndef QUILL_COMMANDS_LOGIN_HOST_H_
#define QUILL_COMMANDS_LOGIN_HOST_H_

#include <cstdint>
#include <string>

#include "store/global_settings.h"

namespace quill {
namespace commands {

// The AuthDone event's values.
struct AuthOutcome {
  uint32_t job_id = 0;    // the login job it ends
  // A newer login (or a session reset) ended this one before its answer;
  // the login screen waits for the newer one's AuthDone instead.
  bool replaced = false;
  bool ok = false;        // signed in
  int32_t code = 0;       // result (<0 refused), platform error (exchange failed), or 0
  uint32_t uin = 0;       // account number, 0 when none came
  std::string session;    // first text: the session key text
  std::string update_id;  // second text: the update package of a -8
  int32_t server_version = 0;  // newest client version the service knows
};

class LoginHost {
 public:
  virtual ~LoginHost() = default;

  // False for a login job the host has ended or replaced: its results are
  // stale.
  virtual bool IsCurrentLogin(uint32_t job_id) = 0;
  virtual std::u16string LoginAccount() = 0;
  virtual void SetLoginAccount(std::u16string account) = 0;
  virtual void SetLoginPassword(std::u16string password) = 0;
  virtual void SetSession(std::string session_key) = 0;
  virtual void SetLoginUin(uint32_t uin) = 0;

  // Another account signed in: reset the local store for it and forget the
  // old session. Called before the new account's values are set.
  virtual void SwitchAccount() = 0;
  // Opens the local store of the signed-in account.
  virtual void OpenAccount(uint32_t uin) = 0;
  // "NickName" and "EmailAddr" of the signed-in account, each written only
  // when it differs from the stored value.
  virtual void SaveAccountProfile(const std::u16string& nickname,
                                  const std::u16string& address) = 0;

  virtual store::GlobalSettings* Settings() = 0;
  // The connection manager's remembered destination.
  virtual void RememberDestination(int access_point) = 0;

  // Automatic re-login bookkeeping.
  virtual void DisableAutoLogin() = 0;
  virtual void CountAutoLoginFailure() = 0;
  virtual void ResetAutoLoginFailures() = 0;

  // The jobs that wait for a session: dropped (each gets its Abandon) or run.
  virtual void DropPendingJobs() = 0;
  virtual void RunPendingJobs() = 0;

  // An update query (reason 2: the service knows a newer version).
  virtual void StartUpdateQuery(int reason) = 0;

  // The announcement, exactly once per login job (outcome.job_id names it).
  virtual void AuthDone(const AuthOutcome& outcome) = 0;
};

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_LOGIN_HOST_H_
