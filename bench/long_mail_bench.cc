// Sending: the upload of a 10 MB attachment through the long-mail job and
// our gateway over 127.0.0.1, against the same bytes POSTed by plain
// libcurl in 20480-byte requests without the envelope to a plain
// cpp-httplib server; and the attachment's MD5 as the job computes it,
// against mbed TLS's MD5 over the same file read whole. Both baselines are
// measured in the same run.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <chrono>
#include <thread>

#include "bench/gateway_rig.h"
#include "commands/long_mail_job.h"
#include "platform/crypto.h"
#include "protocol/envelope.h"

namespace quill {
namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kAttachmentBytes = 10u << 20;

std::string Noise(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 7;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

// The job's reports: progress is taken, the end kept.
class Reports : public engine::JobReporter {
 public:
  bool ShouldContinue() const override { return true; }
  bool SendError(uint32_t, uint32_t step) override {
    failed_step = step;
    return true;
  }
  bool SendData(std::unique_ptr<engine::JobResult> r, uintptr_t) override {
    auto* end = dynamic_cast<commands::LongMailResult*>(r.get());
    delivered = end != nullptr && end->outcome.ok;
    if (end != nullptr && !end->outcome.ok) failed_step = end->outcome.step;
    return true;
  }
  bool SendPercent(std::unique_ptr<engine::JobResult>) override {
    last_report = Clock::now();
    return true;
  }
  bool delivered = false;
  uint32_t failed_step = 0;
  Clock::time_point last_report;  // before the last request: the one that delivers
};

class NoHost : public commands::LongMailHost {
 public:
  bool SaveLongMailKey(uint32_t, const std::string&) override { return true; }
  void LongMailProgressed(uint32_t, const commands::LongMailProgress&) override {}
  void LongMailEnded(uint32_t, uint32_t, const commands::LongMailOutcome&) override {}
  void LongMailAbandoned(uint32_t, uint32_t) override {}
};

commands::LongMailDraft Draft(const GatewayRig& rig, const std::string& path) {
  commands::LongMailDraft d;
  const engine::SessionSnapshot s = rig.account.session();
  d.head.session_key = s.session_key;
  d.head.uin = s.uin;
  d.mail_id = 1;
  d.sender_address = "a@example.com";
  d.subject = "bench";
  d.body = "<html><body>10 MB</body></html>";
  d.body_chars = d.body.size();
  d.to = {{"A", "a@example.com"}};
  d.attachments = {{path, kAttachmentBytes, commands::kLocalFileKind}};
  return d;
}

size_t Ignore(char*, size_t size, size_t n, void*) { return size * n; }

// The same bytes in 20480-byte POSTs through one libcurl handle; seconds.
double PlainUpload(int port, const std::string& bytes) {
  CURL* curl = curl_easy_init();
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/raw";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Ignore);
  const auto start = Clock::now();
  for (size_t at = 0; at < bytes.size(); at += 20480) {
    const size_t n = std::min<size_t>(20480, bytes.size() - at);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, bytes.data() + at);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(n));
    curl_easy_perform(curl);
  }
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  curl_easy_cleanup(curl);
  return s;
}

// The envelope alone: every 20480-byte slice of the file sealed as the
// client seals a request and opened as the gateway opens it; seconds.
double EnvelopeSeconds(const std::string& bytes, const std::string& session_key) {
  const auto start = Clock::now();
  for (size_t at = 0; at < bytes.size(); at += 20480) {
    const size_t n = std::min<size_t>(20480, bytes.size() - at);
    Bytes body(bytes.begin() + at, bytes.begin() + at + n), packed, ticket;
    protocol::RequestKeys keys;
    keys.use_session = true;
    keys.session_key = ByteView(session_key);
    if (protocol::WrapRequest(&body, keys) != 0 ||
        protocol::OpenRequest(ByteView(body), nullptr, ByteView(session_key), &packed, &ticket) != 0 ||
        packed.size() != n) {
      return -1;
    }
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_Upload10MB(benchmark::State& state) {
  GatewayRig rig([](gateway::GatewayServer*, const std::string&) {});
  if (!rig.started || !rig.Login()) return state.SkipWithError("gateway or login failed");
  const std::string bytes = Noise(kAttachmentBytes);
  const std::string path = rig.dir + "/attachment.bin";
  DefaultFileSystem()->ReplaceAtomically(path, ByteView(bytes));

  httplib::Server plain;
  plain.new_task_queue = [] { return new httplib::ThreadPool(32); };
  plain.set_tcp_nodelay(true);
  plain.set_payload_max_length(1 << 20);
  // As long as the gateway's answer to a piece.
  const std::string reply(120, 'x');
  plain.Post("/raw", [&reply](const httplib::Request&, httplib::Response& res) {
    res.set_content(reply, "application/octet-stream");
  });
  const int port = plain.bind_to_any_port("127.0.0.1");
  std::thread listener([&] { plain.listen_after_bind(); });
  while (!plain.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  NoHost host;
  double upload = 0, raw = 0, last = 0, cpu = 0, envelope = 0, envelope_cpu = 0;
  for (auto _ : state) {
    commands::LongMailJob job(&rig.context, DefaultFileSystem(), &host, Draft(rig, path));
    Reports reports;
    const double cpu_start = ProcessCpuSeconds();
    const auto start = Clock::now();
    job.RunWith(&reports);
    const auto end = Clock::now();
    cpu += ProcessCpuSeconds() - cpu_start;
    upload += std::chrono::duration<double>(end - start).count();
    last += std::chrono::duration<double>(end - reports.last_report).count();
    if (!reports.delivered) {
      plain.stop();
      listener.join();
      return state.SkipWithError(("delivery failed at step " + std::to_string(reports.failed_step)).c_str());
    }
    raw += PlainUpload(port, bytes);
    const double envelope_cpu_start = ProcessCpuSeconds();
    const double sealed = EnvelopeSeconds(bytes, rig.account.session().session_key);
    envelope_cpu += ProcessCpuSeconds() - envelope_cpu_start;
    if (sealed < 0) {
      plain.stop();
      listener.join();
      return state.SkipWithError("the envelope failed");
    }
    envelope += sealed;
  }
  plain.stop();
  listener.join();
  const double n = static_cast<double>(state.iterations());
  state.counters["upload_ms"] = upload * 1e3 / n;
  // The last request: the gateway checks, builds, delivers and files the mail.
  state.counters["delivering_ms"] = last * 1e3 / n;
  state.counters["both_sides_cpu_ms"] = cpu * 1e3 / n;
  state.counters["plain_curl_ms"] = raw * 1e3 / n;
  // The floor: sealing and opening the file's bytes, without the network.
  state.counters["envelope_ms"] = envelope * 1e3 / n;
  state.counters["envelope_cpu_ms"] = envelope_cpu * 1e3 / n;
  state.counters["ratio"] = upload / raw;
  state.counters["envelope_ratio"] = envelope / raw;
}
BENCHMARK(BM_Upload10MB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The digest the job computes when it describes the mail (stage 4), against
// mbed TLS's MD5 over the file read whole; the file is in the page cache.
void BM_AttachmentDigest(benchmark::State& state) {
  char tmpl[] = "/tmp/quill_bench_md5_XXXXXX";
  const std::string dir = mkdtemp(tmpl) ? tmpl : "/tmp";
  const std::string path = dir + "/attachment.bin";
  DefaultFileSystem()->ReplaceAtomically(path, ByteView(Noise(kAttachmentBytes)));
  commands::LongMailDraft draft;
  draft.body = "x";
  draft.attachments = {{path, kAttachmentBytes, commands::kLocalFileKind}};
  double ours = 0, baseline = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    commands::LongMailConversation c(draft, DefaultFileSystem(),
                                     [](const commands::LongMailProgress&, bool*) { return true; });
    benchmark::DoNotOptimize(c.Start());
    ours += std::chrono::duration<double>(Clock::now() - start).count();

    start = Clock::now();
    Bytes whole;
    DefaultFileSystem()->ReadFile(path, &whole);
    uint8_t digest[16];
    crypto::Md5(ByteView(whole), digest);
    benchmark::DoNotOptimize(digest);
    baseline += std::chrono::duration<double>(Clock::now() - start).count();
  }
  DefaultFileSystem()->Delete(path);
  rmdir(dir.c_str());
  const double n = static_cast<double>(state.iterations());
  state.counters["job_MB_per_s"] = kAttachmentBytes / (ours / n) / 1e6;
  state.counters["mbedtls_MB_per_s"] = kAttachmentBytes / (baseline / n) / 1e6;
  state.counters["ratio"] = baseline / ours;  // throughput ratio: at least 0.9 wanted
}
BENCHMARK(BM_AttachmentDigest)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

}  // namespace
}  // namespace quill
