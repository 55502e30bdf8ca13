// The client's exchange against our gateway over loopback: one login, and
// 1,000 session exchanges with 20 KB responses over one kept-alive
// connection against libcurl posting and reading the same bytes from a
// server configured like the gateway (thread pool, TCP_NODELAY), without the
// envelope, in the same run.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <chrono>
#include <thread>

#include "commands/auth_job.h"
#include "engine/exchange.h"
#include "bench/gateway_rig.h"
#include "gateway/gateway_server.h"
#include "platform/utf.h"
#include "protocol/codec_status.h"

namespace quill {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kExchanges = 1000;
// Incompressible, like an attachment piece: the response fills the
// 20480-byte limit.
constexpr int32_t kPieceBytes = 20000;

// Answers tag 1 = 0 and tag 2 = kPieceBytes of noise.
class PieceCommand : public gateway::SessionCommand {
 public:
  PieceCommand() : piece_(kPieceBytes) {
    uint32_t x = 99;
    for (auto& b : piece_) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 24);
  }
  protocol::MessageType type() const override { return protocol::MessageType::GetMailAttach; }
  bool Answer(const gateway::GatewaySession&, const protocol::WireMessage&,
              protocol::WireMessage* response) override {
    response->SetType(type());
    return response->Body().PutInt(1, 0) == protocol::CodecOk &&
           response->Body().PutBytes(2, ByteView(piece_)) == protocol::CodecOk;
  }

 private:
  Bytes piece_;
};

class PieceRequest : public engine::ExchangeCommand {
 public:
  std::string RequestPath() const override { return "/cgi-bin/rb-bin/getmailattach"; }
  bool EncodeRequest(protocol::WireMessage* m) override {
    m->SetType(protocol::MessageType::GetMailAttach);
    return m->Body().PutInt(1, 1) == protocol::CodecOk;
  }
  std::unique_ptr<engine::JobResult> DecodeResponse(const protocol::WireMessage& m) override {
    ByteView piece;
    if (m.Body().GetView(2, &piece) != protocol::CodecOk) return nullptr;
    auto r = std::make_unique<Size>();
    r->bytes = piece.size;
    return r;
  }
  struct Size : engine::JobResult {
    int32_t ResultCode() const override { return 0; }
    size_t bytes = 0;
  };
};

// The gateway answering getmailattach with 20 KB pieces.
struct Rig : GatewayRig {
  Rig()
      : GatewayRig([](gateway::GatewayServer* server, const std::string&) {
          server->AddSessionCommand("getmailattach", std::make_unique<PieceCommand>());
        }) {}
};

void BM_LoginRoundTrip(benchmark::State& state) {
  Rig rig;
  if (!rig.started) return state.SkipWithError("gateway did not start");
  for (auto _ : state) {
    if (!rig.Login()) return state.SkipWithError("login failed");
  }
}
BENCHMARK(BM_LoginRoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

size_t AppendBody(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

// kExchanges POSTs of `request` through one libcurl handle; seconds.
double PlainCurlSeconds(int port, const std::string& request, size_t* got) {
  CURL* curl = curl_easy_init();
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/raw";
  std::string body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  const auto start = Clock::now();
  for (int i = 0; i < kExchanges; ++i) {
    body.clear();
    curl_easy_perform(curl);
  }
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  *got = body.size();
  curl_easy_cleanup(curl);
  return s;
}

void BM_SessionExchanges20K(benchmark::State& state) {
  Rig rig;
  if (!rig.started || !rig.Login()) return state.SkipWithError("gateway or login failed");

  // The baseline posts as many bytes as a sealed piece request and reads as
  // many as the gateway answers (measured in each round).
  const engine::TransferTotals before_one = rig.account.totals();
  {
    PieceRequest cmd;
    KeepResult sink;
    engine::RunExchange(rig.context, engine::ExchangeRequest(), &cmd, &sink);
    if (!sink.ok) return state.SkipWithError("exchange failed");
  }
  const std::string request(rig.account.totals().sent - before_one.sent, 'r');
  httplib::Server plain;
  plain.new_task_queue = [] { return new httplib::ThreadPool(32); };
  plain.set_tcp_nodelay(true);
  std::string reply(20480, 'x');
  plain.Post("/raw", [&reply](const httplib::Request&, httplib::Response& res) {
    res.set_content(reply, "application/octet-stream");
  });
  const int port = plain.bind_to_any_port("127.0.0.1");
  std::thread listener([&] { plain.listen_after_bind(); });
  while (!plain.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  double envelope = 0, raw = 0;
  size_t response_bytes = 0, raw_bytes = 0;
  for (auto _ : state) {
    const engine::TransferTotals before = rig.account.totals();
    const auto start = Clock::now();
    for (int i = 0; i < kExchanges; ++i) {
      PieceRequest cmd;
      KeepResult sink;
      engine::RunExchange(rig.context, engine::ExchangeRequest(), &cmd, &sink);
      if (!sink.ok) return state.SkipWithError("exchange failed");
    }
    envelope += std::chrono::duration<double>(Clock::now() - start).count();
    response_bytes = (rig.account.totals().received - before.received) / kExchanges;
    reply.assign(response_bytes, 'x');
    raw += PlainCurlSeconds(port, request, &raw_bytes);
  }
  plain.stop();
  listener.join();
  const double n = static_cast<double>(state.iterations());
  state.counters["response_bytes"] = static_cast<double>(response_bytes);
  state.counters["envelope_us_per_exchange"] = envelope * 1e6 / (kExchanges * n);
  state.counters["plain_curl_us_per_exchange"] = raw * 1e6 / (kExchanges * n);
  state.counters["ratio"] = envelope / raw;
}
BENCHMARK(BM_SessionExchanges20K)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace quill
