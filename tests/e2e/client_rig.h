// The client's side of the end-to-end tests: a reporter that records the
// one report of an exchange, and an exchange command made of an encoder and
// a decoder, so each command message can be run against the gateway before
// its job exists.
#ifndef QUILL_TESTS_E2E_CLIENT_RIG_H_
#define QUILL_TESTS_E2E_CLIENT_RIG_H_

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commands/auth_job.h"
#include "engine/exchange.h"
#include "engine/job_result.h"
#include "engine/net_job.h"
#include "gateway/gateway_cli.h"
#include "gateway/gateway_server.h"
#include "gateway/session_command.h"
#include "platform/utf.h"
#include "tests/job_reporters.h"
#include "tests/temp_dir.h"
#include "tools/cli/cli.h"

namespace quill {

// A decoded response of type T as a job result.
template <typename T>
struct DecodedResult : engine::JobResult {
  int32_t ResultCode() const override { return value.head.result; }
  T value;
};

// An exchange command from an encoder and a decoder of response type T.
template <typename T>
class MessageCommand : public engine::ExchangeCommand {
 public:
  MessageCommand(std::string path, std::function<bool(protocol::WireMessage*)> encode,
                 std::function<int(const protocol::WireMessage&, T*)> decode)
      : path_(std::move(path)), encode_(std::move(encode)), decode_(std::move(decode)) {}
  std::string RequestPath() const override { return path_; }
  bool EncodeRequest(protocol::WireMessage* m) override { return encode_(m); }
  std::unique_ptr<engine::JobResult> DecodeResponse(const protocol::WireMessage& m) override {
    auto r = std::make_unique<DecodedResult<T>>();
    if (decode_(m, &r->value) != 0) return nullptr;
    return r;
  }

 private:
  const std::string path_;
  const std::function<bool(protocol::WireMessage*)> encode_;
  const std::function<int(const protocol::WireMessage&, T*)> decode_;
};

// One of the gateway's own commands wrapped for a test: it counts the
// requests, runs a hook before answering one, shows each request to a
// watcher, can refuse one (the client then gets a failed wrapper) or answer
// in its place. Hooks, watchers and replies run on the gateway's request
// thread.
class WatchedCommand : public gateway::SessionCommand {
 public:
  // Before the server starts: the command that answers.
  void Wrap(std::unique_ptr<gateway::SessionCommand> inner) { inner_ = std::move(inner); }
  // Runs before answering the request numbered `n` (from 1).
  void Before(int n, std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mu_);
    hook_at_ = n;
    hook_ = std::move(hook);
  }
  // Sees every request with its number.
  void Watch(std::function<void(int n, const protocol::WireMessage& request)> watcher) {
    std::lock_guard<std::mutex> lock(mu_);
    watcher_ = std::move(watcher);
  }
  // The command answers what `rewrite` makes of each request.
  void Rewrite(std::function<protocol::WireMessage(const protocol::WireMessage&)> rewrite) {
    std::lock_guard<std::mutex> lock(mu_);
    rewrite_ = std::move(rewrite);
  }
  // `change` edits each answer before it goes out.
  void RewriteAnswers(std::function<void(protocol::WireMessage* response)> change) {
    std::lock_guard<std::mutex> lock(mu_);
    change_answer_ = std::move(change);
  }
  // The request numbered `n` is refused (0: none).
  void RefuseAt(int n) {
    std::lock_guard<std::mutex> lock(mu_);
    refuse_at_ = n;
  }
  // Answers each request that `reply` fills (true) in the command's place.
  void Reply(std::function<bool(const protocol::WireMessage&, protocol::WireMessage*)> reply) {
    std::lock_guard<std::mutex> lock(mu_);
    reply_ = std::move(reply);
  }
  protocol::MessageType type() const override { return inner_->type(); }
  bool Answer(const gateway::GatewaySession& session, const protocol::WireMessage& request,
              protocol::WireMessage* response) override {
    const int n = ++requests;
    std::function<void()> hook;
    std::function<void(protocol::WireMessage*)> change;
    bool refuse = false;
    protocol::WireMessage rewritten;
    bool rewrote = false;
    std::function<bool(const protocol::WireMessage&, protocol::WireMessage*)> reply;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (n == hook_at_) hook.swap(hook_);
      if (watcher_) watcher_(n, request);
      refuse = n == refuse_at_;
      if (rewrite_) {
        rewritten = rewrite_(request);
        rewrote = true;
      }
      change = change_answer_;
      reply = reply_;
    }
    if (hook) hook();
    const bool ok = (reply && reply(request, response)) ||
                    (!refuse && inner_->Answer(session, rewrote ? rewritten : request, response));
    if (ok && change) change(response);
    ++answered;
    return ok;
  }
  std::atomic<int> requests{0};  // answered or being answered
  std::atomic<int> answered{0};  // answered (or refused)

 private:
  std::unique_ptr<gateway::SessionCommand> inner_;
  std::mutex mu_;
  int hook_at_ = 0;             // guarded by mu_
  std::function<void()> hook_;  // guarded by mu_
  std::function<void(int, const protocol::WireMessage&)> watcher_;  // guarded by mu_
  int refuse_at_ = 0;           // guarded by mu_
  std::function<protocol::WireMessage(const protocol::WireMessage&)> rewrite_;  // guarded by mu_
  std::function<void(protocol::WireMessage*)> change_answer_;                  // guarded by mu_
  std::function<bool(const protocol::WireMessage&, protocol::WireMessage*)> reply_;  // guarded by mu_
};

// A gateway over a state directory and a client exchange context that
// talks to it over 127.0.0.1.
class ClientGatewayTest : public ::testing::Test {
 protected:
  void AddAccount(const std::string& name, const std::string& password, uint32_t uin,
                  const std::string& nickname) {
    std::string why;
    ASSERT_TRUE(gateway::AddAccountWithMaildir(
        DefaultFileSystem(), state_.path(),
        {name, gateway::PasswordDigestText(password), uin, name + "@example.com", nickname}, &why))
        << why;
  }

  // Starts the gateway (after `before_start`, e.g. adding test commands)
  // and points the client's context at it.
  void StartGateway(std::function<void(gateway::GatewayServer*)> before_start = nullptr) {
    gateway::GatewayOptions options;
    options.state_dir = state_.path();
    options.allow_remote_images = allow_remote_images_;
    server_ = std::make_unique<gateway::GatewayServer>(options);
    if (before_start) before_start(server_.get());
    std::string why;
    ASSERT_TRUE(server_->Start(&why)) << why;
    config_path_ = state_.path() + "/client.cfg";
    ASSERT_EQ(engine::LoadGatewayConfig(DefaultFileSystem(), config_path_, &gateway_),
              engine::GatewayConfigStatus::kOk);
    context_.connections = &connections_;
    context_.gateway = &gateway_;
    context_.account = &account_;
    context_.http_cache = &cache_;
    // Together they bound a whole exchange to 3 s.
    context_.http.connect_timeout_ms = 1000;
    context_.http.send_timeout_ms = 1000;
    context_.http.receive_timeout_ms = 1000;
  }

  // One login exchange through the login job, reported to recorder_.
  engine::ExchangeOutcome Login(const std::string& account, const std::string& password) {
    recorder_ = Recorder();
    commands::AuthJobParams params;
    params.user_initiated = true;
    params.account = Utf8ToUtf16(account);
    params.password = Utf8ToUtf16(gateway::PasswordDigestText(password));
    commands::AuthJob job(&context_, nullptr, params);
    return job.RunWith(&recorder_);
  }

  const commands::AuthResponse* LoginResponse() const {
    auto* r = dynamic_cast<const commands::AuthResult*>(recorder_.result.get());
    return r == nullptr ? nullptr : &r->response;
  }

  // Logs in and installs the session in the context.
  void SignIn(const std::string& account, const std::string& password) {
    ASSERT_EQ(Login(account, password), engine::ExchangeOutcome::kDelivered);
    ASSERT_NE(LoginResponse(), nullptr);
    ASSERT_EQ(LoginResponse()->head.result, 0);
    account_.SetSession(LoginResponse()->session_key);
  }

  // quillpost-cli with `head` and then `command` on its command line, its
  // output in out_ / err_ (emptied first).
  int RunCli(std::vector<std::string> head, const std::vector<std::string>& command) {
    out_.str("");
    err_.str("");
    head.insert(head.end(), command.begin(), command.end());
    return cli::RunCli(head, out_, err_);
  }
  // quillpost-cli on the data directory and the gateway started.
  int Cli(const std::vector<std::string>& command) {
    return RunCli({"--data", data_.path(), "--gateway-config", config_path_, "--timeout",
                   std::to_string(cli_timeout_s_)},
                  command);
  }

  bool allow_remote_images_ = false;  // read by StartGateway
  int cli_timeout_s_ = 10;            // Cli's --timeout
  std::ostringstream out_, err_;      // what the last RunCli printed
  TempDir state_, data_;
  std::unique_ptr<gateway::GatewayServer> server_;
  std::string config_path_;
  engine::LinuxConnectionBackend backend_;
  engine::ConnectionManager connections_{&backend_, nullptr};
  engine::GatewayConfig gateway_;
  engine::AccountState account_;
  engine::HttpConnectionCache cache_;
  engine::ExchangeContext context_;
  Recorder recorder_;
};

}  // namespace quill

#endif  // QUILL_TESTS_E2E_CLIENT_RIG_H_
