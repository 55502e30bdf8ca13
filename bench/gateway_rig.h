// Our gateway in the benchmark's process with one account ("alice",
// password "secret"), and a client exchange context that talks to it over
// 127.0.0.1.
#ifndef QUILL_BENCH_GATEWAY_RIG_H_
#define QUILL_BENCH_GATEWAY_RIG_H_

#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "commands/auth_job.h"
#include "engine/exchange.h"
#include "gateway/gateway_cli.h"
#include "gateway/gateway_server.h"
#include "platform/utf.h"
#include "tests/job_reporters.h"

namespace quill {

// Keeps the last decoded response of an exchange.
class KeepResult : public engine::JobReporter {
 public:
  bool ShouldContinue() const override { return true; }
  bool SendError(uint32_t, uint32_t) override { return ok = false; }
  bool SendData(std::unique_ptr<engine::JobResult> r, uintptr_t) override {
    result = std::move(r);
    return true;
  }
  bool SendPercent(std::unique_ptr<engine::JobResult>) override { return true; }
  bool ok = true;                             // no WM_CMD_ERR came
  std::unique_ptr<engine::JobResult> result;  // the last WM_CMD_DATA_COME
};

struct GatewayRig {
  // `prepare` may fill the Maildir and add session commands before the
  // gateway starts.
  explicit GatewayRig(
      const std::function<void(gateway::GatewayServer*, const std::string& maildir)>& prepare) {
    char tmpl[] = "/tmp/quill_bench_gw_XXXXXX";
    dir = mkdtemp(tmpl) ? tmpl : "";
    FileSystem* fs = DefaultFileSystem();
    std::string why;
    gateway::AddAccountWithMaildir(
        fs, dir, {"alice", gateway::PasswordDigestText("secret"), 10001, "a@example.com", "A"}, &why);
    const std::string maildir = gateway::MaildirPath(dir, "alice");
    gateway::GatewayOptions options;
    options.state_dir = dir;
    server = std::make_unique<gateway::GatewayServer>(options);
    prepare(server.get(), maildir);
    started = server->Start(&why);
    engine::LoadGatewayConfig(fs, dir + "/client.cfg", &config);
    context.connections = &connections;
    context.gateway = &config;
    context.account = &account;
    context.http_cache = &cache;
  }
  ~GatewayRig() {
    server->Stop();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  // One login through the login job; its session goes into the context.
  bool Login() {
    commands::AuthJobParams params;
    params.account = u"alice";
    params.password = Utf8ToUtf16(gateway::PasswordDigestText("secret"));
    commands::AuthJob job(&context, nullptr, params);
    KeepResult keep;
    if (job.RunWith(&keep) != engine::ExchangeOutcome::kDelivered) return false;
    auto* r = dynamic_cast<commands::AuthResult*>(keep.result.get());
    if (r == nullptr || r->response.head.result != 0) return false;
    account.SetSession(r->response.session_key);
    return true;
  }

  std::string dir;                                  // the gateway's state
  std::unique_ptr<gateway::GatewayServer> server;
  bool started = false;                             // the gateway serves
  engine::LinuxConnectionBackend backend;
  engine::ConnectionManager connections{&backend, nullptr};
  engine::GatewayConfig config;                     // from its client.cfg
  engine::AccountState account;
  engine::HttpConnectionCache cache;
  engine::ExchangeContext context;                  // what every exchange uses
};

// CPU seconds of the whole process (client and gateway threads).
inline double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace quill

#endif  // QUILL_BENCH_GATEWAY_RIG_H_
