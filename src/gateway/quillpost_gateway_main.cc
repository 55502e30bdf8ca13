// quillpost-gateway: serves a state directory until "quit" on standard
// input, SIGINT or SIGTERM. See gateway_cli.h for the command line.
#include <signal.h>

#include <condition_variable>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gateway/gateway_cli.h"
#include "gateway/gateway_server.h"

namespace {

using namespace quill::gateway;

// Set once by the control input or the signal thread; main waits for it.
std::mutex g_mu;
std::condition_variable g_cv;
bool g_stop = false;

void RequestStop() {
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_stop = true;
  }
  g_cv.notify_all();
}

int Serve(const GatewayCommandLine& cl) {
  // Block the stop signals in every thread; one thread takes them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  GatewayServer server(cl.options);
  for (const auto& f : cl.faults) server.faults()->Set(f.first, f.second);
  std::string error;
  if (!server.Start(&error)) {
    std::cerr << "quillpost-gateway: " << error << "\n";
    return kGatewayExitFailed;
  }
  const ClientConfig& config = server.client_config();
  std::cout << "listening on " << server.host() << ":" << server.port() << "\n"
            << "modulus: " << config.modulus_hex << "\n"
            << "exponent: " << config.exponent_hex << "\n"
            << "client config: " << cl.options.state_dir << "/" << kClientConfigFileName
            << std::endl;

  std::thread([signals] {
    int got = 0;
    sigwait(&signals, &got);
    RequestStop();
  }).detach();
  // Standard input may stay open forever, or be closed at once (no
  // terminal): its end does not stop the server.
  std::thread([&server] {
    std::string line;
    while (std::getline(std::cin, line)) {
      std::string why;
      switch (ApplyControlLine(line, server.faults(), &why)) {
        case ControlResult::kApplied:
          std::cout << "ok" << std::endl;
          break;
        case ControlResult::kQuit:
          RequestStop();
          return;
        case ControlResult::kBad:
          std::cerr << "quillpost-gateway: " << why << std::endl;
          break;
      }
    }
  }).detach();

  std::unique_lock<std::mutex> lock(g_mu);
  g_cv.wait(lock, [] { return g_stop; });
  lock.unlock();
  server.Stop();
  std::cout << "stopped" << std::endl;
  return kGatewayExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  GatewayCommandLine cl;
  std::string error;
  if (!ParseGatewayCommandLine(args, &cl, &error)) {
    std::cerr << "quillpost-gateway: " << error << "\n"
              << "usage: quillpost-gateway --state DIR [--host H] [--port N] [--min-version V]\n"
              << "                         [--session-seconds S] [--fault COMMAND=MODE[:ARG]]...\n"
              << "                         [--allow-remote-images]\n"
              << "       quillpost-gateway --state DIR add-account NAME PASSWORD --uin N\n"
              << "                         [--address A] [--nickname TEXT]\n"
              << "       quillpost-gateway --state DIR stats\n"
              << "       quillpost-gateway --state DIR publish-update FILE --version V [--notes TEXT]\n";
    return kGatewayExitUsage;
  }
  if (cl.add_account) {
    return AddAccountCommand(quill::DefaultFileSystem(), cl, std::cout, std::cerr);
  }
  if (cl.stats) return StatsCommand(cl, std::cout, std::cerr);
  if (cl.publish_update) {
    return PublishUpdateCommand(quill::DefaultFileSystem(), cl, std::cout, std::cerr);
  }
  return Serve(cl);
}
