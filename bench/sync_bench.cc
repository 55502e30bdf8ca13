// Mailbox sync against our gateway over loopback: the initial paged sync of
// a 10,000-mail Maildir, and a sync when nothing changed. Pages are fetched
// and decoded by the sync job; a host that only follows the key stands in
// for the store, so these are the figures the store's cost is measured
// against.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>

#include "commands/sync_job.h"
#include "bench/gateway_rig.h"
#include "gateway/gateway_server.h"

namespace quill {
namespace {

constexpr int kMails = 10000;

class KeyOnlyHost : public commands::SyncHost {
 public:
  int32_t StoredSyncKey() const override { return key.load(); }
  void SyncPageArrived(uint32_t, const commands::SyncResponse& page, bool final_page,
                       int32_t) override {
    if (page.head.result == 0) key = page.new_key;
    commands += static_cast<int>(page.commands.size());
    ++pages;
    done = final_page;
  }
  void SyncFailed(uint32_t, uint32_t e, uint32_t s, int32_t) override {
    failed = done = true;
    fprintf(stderr, "sync failed: error %u step %u after %d pages\n", e, s, pages);
  }
  void SyncAbandoned(uint32_t, int32_t) override { failed = done = true; }
  std::atomic<int32_t> key{0};
  int commands = 0, pages = 0;
  bool done = false, failed = false;
};

// A gateway over a generated Maildir and a signed-in client context.
struct SyncRig : GatewayRig {
  SyncRig()
      : GatewayRig([](gateway::GatewayServer*, const std::string& maildir) {
          for (int i = 0; i < kMails; ++i) {
            const std::string n = std::to_string(1700000000 + i);
            const std::string message =
                "From: =?UTF-8?B?5byg5LiJ?= <s" + n + "@example.cn>\r\nTo: alice@example.com\r\n"
                "Subject: Weekly report " + n + " =?UTF-8?B?5ZGo5oql?=\r\n"
                "Date: Mon, 07 Dec 2026 10:00:00 +0000\r\n"
                "Content-Type: text/plain; charset=utf-8\r\n\r\nBody of mail " + n + "\r\n";
            DefaultFileSystem()->ReplaceAtomically(maildir + "/cur/" + n + ".bench:2,S",
                                                   ByteView(message));
          }
        }) {
    started = started && Login();
  }
  // Sync jobs from the host's key until a job ends without reaching the
  // request cap (one job sends at most 52 requests); false on failure.
  bool CatchUp(KeyOnlyHost* host) {
    for (;;) {
      const int before = host->pages;
      if (!Sync(host)) return false;
      if (host->pages - before < commands::kMaxSyncRequests) return true;
      host->done = false;
    }
  }
  // One whole sync job from `key`; false on failure.
  bool Sync(KeyOnlyHost* host) {
    commands::SyncRequest request;
    request.head.sync_key = host->key;
    request.reason = 5;
    commands::SyncJob job(&context, host, request);
    InlineUi ui(&job);
    job.RunWith(&ui);
    return host->done && !host->failed;
  }
};

SyncRig& Rig() {
  static SyncRig* rig = new SyncRig;  // built once: 10,000 files
  return *rig;
}

void BM_InitialSync10k(benchmark::State& state) {
  SyncRig& rig = Rig();
  if (!rig.started) return state.SkipWithError("gateway did not start");
  int pages = 0;
  for (auto _ : state) {
    KeyOnlyHost host;
    if (!rig.CatchUp(&host) || host.commands < kMails) return state.SkipWithError("sync failed");
    pages = host.pages;
  }
  state.counters["pages"] = pages;
  state.counters["mails_per_s"] =
      benchmark::Counter(kMails, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_InitialSync10k)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_NoChangeSync10k(benchmark::State& state) {
  SyncRig& rig = Rig();
  if (!rig.started) return state.SkipWithError("gateway did not start");
  KeyOnlyHost host;
  if (!rig.CatchUp(&host)) return state.SkipWithError("sync failed");
  for (auto _ : state) {
    host.done = false;
    if (!rig.Sync(&host) || host.pages == 0) return state.SkipWithError("sync failed");
  }
}
BENCHMARK(BM_NoChangeSync10k)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quill
