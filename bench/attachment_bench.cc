// Attachment downloads against our gateway over loopback: a 10 MB
// attachment fetched by the download job (18 KB pieces, each a sealed
// exchange, written to the ".temp" file and renamed at the end), against
// libcurl fetching the same bytes in 20480-byte POSTs from a plain server
// configured like the gateway, without the envelope, in the same run; and a
// download cut at half its pieces, then resumed, with the bytes read in all.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <chrono>
#include <random>
#include <thread>

#include "bench/gateway_rig.h"
#include "commands/attach_job.h"
#include "commands/sync_message.h"
#include "gateway/attach_command.h"
#include "gateway/gateway_server.h"
#include "tests/gateway/mime_writer.h"

namespace quill {
namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kFileBytes = 10 << 20;
constexpr size_t kPlainPiece = 20480;

// The attachment: 10 MB of noise, made once.
const std::string& File() {
  static const std::string* file = [] {
    std::mt19937 random(42);
    auto* s = new std::string(kFileBytes, '\0');
    for (char& c : *s) c = static_cast<char>(random());
    return s;
  }();
  return *file;
}

class SyncOnce : public engine::ExchangeCommand {
 public:
  std::string RequestPath() const override { return "/cgi-bin/rb-bin/sync"; }
  bool EncodeRequest(protocol::WireMessage* m) override { return commands::EncodeSyncRequest({}, m); }
  std::unique_ptr<engine::JobResult> DecodeResponse(const protocol::WireMessage&) override {
    return std::make_unique<engine::SessionKeyErrorResult>();  // any result will do
  }
};

// Cuts the connection of the request after the Nth (counted from Arm).
class CutAfter : public gateway::SessionCommand {
 public:
  CutAfter(std::unique_ptr<gateway::SessionCommand> inner, gateway::FaultPlan* faults)
      : inner_(std::move(inner)), faults_(faults) {}
  void Arm(int n) {
    calls_ = 0;
    cut_at_ = n;
  }
  protocol::MessageType type() const override { return inner_->type(); }
  bool Answer(const gateway::GatewaySession& s, const protocol::WireMessage& request,
              protocol::WireMessage* response) override {
    if (++calls_ == cut_at_) faults_->Set("getmailattach", {gateway::FaultMode::kDrop, 0, true});
    return inner_->Answer(s, request, response);
  }

 private:
  std::unique_ptr<gateway::SessionCommand> inner_;
  gateway::FaultPlan* const faults_;
  int calls_ = 0;    // request threads of one kept-alive connection: one at a time
  int cut_at_ = -1;
};

// The rig's cutter, set while the rig is made.
CutAfter* g_cutter = nullptr;

struct Rig : GatewayRig {
  Rig()
      : GatewayRig([](gateway::GatewayServer* server, const std::string& maildir) {
          DefaultFileSystem()->ReplaceAtomically(
              maildir + "/new/1.a",
              ByteView(gateway::MultipartMessage("big", "x",
                                                 {gateway::AttachmentPart("big.bin", File())})));
          auto inner = server->AddSessionCommand("getmailattach", nullptr);
          auto cut = std::make_unique<CutAfter>(std::move(inner), server->faults());
          g_cutter = cut.get();
          server->AddSessionCommand("getmailattach", std::move(cut));
        }),
        cutter(g_cutter) {}
  bool Ready() {
    if (!started || !Login()) return false;
    SyncOnce sync;
    KeepResult keep;
    return engine::RunExchange(context, engine::ExchangeRequest(), &sync, &keep) ==
           engine::ExchangeOutcome::kDelivered;
  }
  // One run of the download job into target; true when it completed.
  bool Download(const std::string& target) {
    commands::AttachJobInfo info;
    info.job_type = engine::kJobAttachDownload;
    info.server_id = 1;
    info.name = u"big.bin";
    info.path = target;
    commands::AttachRequest request;
    request.head.session_key = account.session().session_key;
    commands::AttachJob job(&context, DefaultFileSystem(), nullptr, info, request);
    KeepResult keep;
    job.RunWith(&keep);
    auto* r = dynamic_cast<commands::AttachResult*>(keep.result.get());
    return keep.ok && r != nullptr && r->result == 0 && r->sub_result == 0 && r->total == kFileBytes;
  }
  CutAfter* const cutter;  // on the gateway's getmailattach
};

size_t AppendBody(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

// The whole file in kPlainPiece POSTs (the offset as the body) through one
// libcurl handle; seconds.
double PlainCurlSeconds(int port, size_t* got) {
  CURL* curl = curl_easy_init();
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/raw";
  std::string body, offset;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  const auto start = Clock::now();
  while (body.size() < kFileBytes) {
    offset = std::to_string(body.size());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, offset.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(offset.size()));
    const size_t before = body.size();
    if (curl_easy_perform(curl) != CURLE_OK || body.size() == before) break;
  }
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  *got = body.size();
  curl_easy_cleanup(curl);
  return s;
}

void BM_Download10MB(benchmark::State& state) {
  Rig rig;
  if (!rig.Ready()) return state.SkipWithError("gateway, login or sync failed");
  httplib::Server plain;
  plain.new_task_queue = [] { return new httplib::ThreadPool(32); };
  plain.set_tcp_nodelay(true);
  plain.Post("/raw", [&rig](const httplib::Request& req, httplib::Response& res) {
    const size_t offset = std::min<size_t>(std::stoull(req.body), kFileBytes);
    res.set_content(File().substr(offset, kPlainPiece), "application/octet-stream");
  });
  const int port = plain.bind_to_any_port("127.0.0.1");
  std::thread listener([&] { plain.listen_after_bind(); });
  while (!plain.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  const std::string target = rig.dir + "/out.bin";
  double ours = 0, raw = 0, cpu = 0;
  size_t raw_bytes = 0;
  for (auto _ : state) {
    DefaultFileSystem()->Delete(target);
    const double cpu_start = ProcessCpuSeconds();
    const auto start = Clock::now();
    if (!rig.Download(target)) return state.SkipWithError("download failed");
    ours += std::chrono::duration<double>(Clock::now() - start).count();
    cpu += ProcessCpuSeconds() - cpu_start;
    raw += PlainCurlSeconds(port, &raw_bytes);
    if (raw_bytes != kFileBytes) return state.SkipWithError("plain fetch failed");
  }
  plain.stop();
  listener.join();
  const double n = static_cast<double>(state.iterations());
  state.counters["download_ms"] = ours * 1e3 / n;
  state.counters["both_sides_cpu_ms"] = cpu * 1e3 / n;
  state.counters["plain_curl_ms"] = raw * 1e3 / n;
  state.counters["MB_per_s"] = kFileBytes / (ours / n) / 1e6;
  state.counters["ratio"] = ours / raw;
}
BENCHMARK(BM_Download10MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_ResumeAfterCutAtHalf(benchmark::State& state) {
  Rig rig;
  if (!rig.Ready()) return state.SkipWithError("gateway, login or sync failed");
  const std::string target = rig.dir + "/out.bin";
  const int pieces = static_cast<int>((kFileBytes + gateway::kAttachPieceBytes - 1) /
                                      gateway::kAttachPieceBytes);
  double read_ratio = 0, sent_bytes = 0;
  for (auto _ : state) {
    DefaultFileSystem()->Delete(target);
    const engine::TransferTotals before = rig.account.totals();
    rig.cutter->Arm(pieces / 2);
    if (rig.Download(target)) return state.SkipWithError("the cut did not happen");
    rig.cutter->Arm(-1);
    if (!rig.Download(target)) return state.SkipWithError("the resumed download failed");
    const engine::TransferTotals after = rig.account.totals();
    read_ratio += static_cast<double>(after.received - before.received) / kFileBytes;
    sent_bytes += static_cast<double>(after.sent - before.sent);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["bytes_read_per_file_byte"] = read_ratio / n;
  state.counters["request_bytes"] = sent_bytes / n;
}
BENCHMARK(BM_ResumeAfterCutAtHalf)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace quill
