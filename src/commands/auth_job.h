// The login job (job type 1): exchanges the account and the password digest
// for a session key and account number, then stores them and announces the
// outcome through its LoginHost.
//
// Threading: made and completed on the UI thread; Run on a worker, where it
// reads only its own request and the shared exchange context.
#ifndef QUILL_COMMANDS_AUTH_JOB_H_
#define QUILL_COMMANDS_AUTH_JOB_H_

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "commands/auth_message.h"
#include "commands/login_host.h"
#include "engine/exchange.h"
#include "engine/net_job.h"

namespace quill {
namespace commands {

inline constexpr char kAuthPath[] = "/cgi-bin/rb-bin/auth";

// The decoded login response, handed from the worker to the UI thread.
class AuthResult : public engine::JobResult {
 public:
  int32_t ResultCode() const override { return response.head.result; }
  AuthResponse response;  // as decoded
};

struct AuthJobParams {
  int access_point = -1;        // destination chosen for this login
  bool user_initiated = false;  // the user pressed the login button
  std::u16string account;       // as typed, or the stored one
  std::u16string password;      // the 32-digit MD5 digest text of the typed password
  bool auto_login = false;      // the "自动登录" check box
  std::array<uint8_t, 16> device_id{};  // DeviceId
  std::function<int64_t()> now_seconds;  // the update notice's clock; null: NowSeconds
};

class AuthJob : public engine::NetJob, private engine::ExchangeCommand {
 public:
  // context and host must outlive the job.
  AuthJob(const engine::ExchangeContext* context, LoginHost* host, AuthJobParams params);

  void Run(engine::WorkerLink& link) override;
  int GetJobType() const override { return engine::kJobLogin; }
  void Abandon() override;
  void OnDataCome(uint32_t job_id, int type, engine::JobResult* response,
                  uint32_t user_data) override;
  void OnError(uint32_t job_id, int type, uint32_t system_error, uint32_t step,
               uint32_t user_data) override;

  // The exchange without a worker pool (tools and tests).
  engine::ExchangeOutcome RunWith(engine::JobReporter* reporter);
  // The completion of a decoded response (UI thread).
  void Complete(const AuthResponse& response);

 private:
  std::string RequestPath() const override { return kAuthPath; }
  bool EncodeRequest(protocol::WireMessage* request) override;
  std::unique_ptr<engine::JobResult> DecodeResponse(const protocol::WireMessage& response) override;

  void CompleteRefused(const AuthResponse& response);
  void CompleteSignedIn(const AuthResponse& response);
  bool UpdateQueryDue(int32_t server_version);

  const engine::ExchangeContext* const context_;  // shared by all jobs
  LoginHost* const host_;                         // the facade
  const AuthJobParams params_;                    // as made
  const AuthRequest request_;                     // built from params_
};

// The login screen's text for a failed login: ok = false with code, where
// a code >= 0 is a platform error of a failed exchange. Empty for success.
std::u16string AuthFailureText(int32_t code);
// True when the failure is a network failure (the screen offers the
// network check).
inline bool IsNetworkFailure(int32_t code) { return code >= 0; }

}  // namespace commands
}  // namespace quill

#endif  // QUILL_COMMANDS_AUTH_JOB_H_
