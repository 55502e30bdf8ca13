// Mailbox sync against our gateway over loopback: the initial paged sync of
// a 10,000-mail Maildir, and a sync when nothing changed. Pages are fetched
// and decoded by the sync job; a host that only follows the key stands in
// for the store, so these are the figures the store's cost is measured
// against. The initial sync is also run with every page applied to a fresh
// account store, as the mail service applies it, against the key-only host
// in the same run.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "bench/bench_clock.h"
#include "bench/gateway_rig.h"
#include "commands/sync_job.h"
#include "facade/sync_applier.h"
#include "gateway/gateway_server.h"
#include "store/account_store.h"

namespace quill {
namespace {

constexpr int kMails = 10000;
constexpr uint32_t kUin = 10001;  // alice's, as the rig's account book has it

// Follows the sync key and counts what arrived; keeps nothing.
class CountingHost : public commands::SyncHost {
 public:
  int32_t StoredSyncKey() const override { return key.load(); }
  void SyncPageArrived(uint32_t, const commands::SyncResponse& page, bool final_page,
                       int32_t) override {
    if (page.head.result == 0) {
      // As the mail service does: the key moves only when the page was kept,
      // else the job stops on the key it did not expect.
      if (Keep(page, final_page)) {
        key = page.new_key;
      } else {
        failed = true;
      }
    }
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

 protected:
  // A page of result 0; false when it could not be kept.
  virtual bool Keep(const commands::SyncResponse&, bool /*final_page*/) { return true; }
};

// Applies every page to an account store in a fresh data directory of its
// own, removed with the host.
class StoreHost : public CountingHost {
 public:
  StoreHost() : store_(DefaultFileSystem()) {
    char tmpl[] = "/tmp/quill_bench_store_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    dir_ = tmpl;
    opened_ = store_.Open(kUin, dir_ + "/") && store_.fresh();
  }
  ~StoreHost() override {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  // The store was opened fresh.
  bool opened() const { return opened_; }
  size_t mail_count() { return store_.mails()->mail_count(); }

 private:
  // Durable at the last page, as the mail service makes a sync this short.
  bool Keep(const commands::SyncResponse& page, bool final_page) override {
    facade::SyncPageStats stats;
    return facade::ApplySyncPage(&store_, page, final_page, &stats);
  }

  store::AccountStore store_;
  std::string dir_;      // the data directory; empty when mkdtemp failed
  bool opened_ = false;
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
    started = started && Login() && Settle();
  }
  // Sync jobs from the host's key until a job ends without reaching the
  // request cap (one job sends at most 52 requests); false on failure.
  bool CatchUp(CountingHost* host) {
    for (;;) {
      const int before = host->pages;
      if (!Sync(host)) return false;
      if (host->pages - before < commands::kMaxSyncRequests) return true;
      host->done = false;
    }
  }
  // One whole sync job from `key`; false on failure.
  bool Sync(CountingHost* host) {
    commands::SyncRequest request;
    request.head.sync_key = host->key;
    request.reason = 5;
    commands::SyncJob job(&context, host, request);
    InlineUi ui(&job);
    job.RunWith(&ui);
    return host->done && !host->failed;
  }

 private:
  // The gateway lists the Maildir again while its directories' times are
  // under two seconds older than the last listing, and parses each head
  // once; one sync past that point leaves it serving every later sync from
  // key 0 alike, so the first timed sync pays no setup.
  bool Settle() {
    std::this_thread::sleep_until(built_ + std::chrono::milliseconds(2100));
    CountingHost host;
    return CatchUp(&host);
  }

  const Clock::time_point built_ = Clock::now();  // the Maildir is filled by now
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
    CountingHost host;
    if (!rig.CatchUp(&host) || host.commands < kMails) return state.SkipWithError("sync failed");
    pages = host.pages;
  }
  state.counters["pages"] = pages;
  state.counters["mails_per_s"] =
      benchmark::Counter(kMails, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_InitialSync10k)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Each iteration: the initial sync fetched and decoded only, then the same
// sync (key 0, the same pages) applied to a fresh store. Making and removing
// the store is not timed; the iteration's time is the sync into the store.
void BM_InitialSyncToStore10k(benchmark::State& state) {
  SyncRig& rig = Rig();
  if (!rig.started) return state.SkipWithError("gateway did not start");
  double fetch_s = 0, store_s = 0;
  int pages = 0;
  for (auto _ : state) {
    CountingHost fetched;
    Clock::time_point start = Clock::now();
    const bool fetched_ok = rig.CatchUp(&fetched);
    fetch_s += Seconds(start);
    if (!fetched_ok || fetched.commands < kMails) return state.SkipWithError("sync failed");

    StoreHost stored;
    if (!stored.opened()) return state.SkipWithError("no fresh store");
    start = Clock::now();
    const bool stored_ok = rig.CatchUp(&stored);
    const double s = Seconds(start);
    store_s += s;
    state.SetIterationTime(s);
    if (!stored_ok) return state.SkipWithError("sync into the store failed");
    if (stored.pages != fetched.pages || stored.commands != fetched.commands) {
      return state.SkipWithError("the gateway served different pages");
    }
    if (stored.mail_count() != static_cast<size_t>(kMails)) {
      return state.SkipWithError("the store does not hold every mail");
    }
    pages = stored.pages;
  }
  const double mails = static_cast<double>(kMails) * static_cast<double>(state.iterations());
  state.counters["pages"] = pages;
  state.counters["store_mails_per_s"] = mails / store_s;
  state.counters["fetch_mails_per_s"] = mails / fetch_s;
  state.counters["ratio"] = store_s / fetch_s;
}
BENCHMARK(BM_InitialSyncToStore10k)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

void BM_NoChangeSync10k(benchmark::State& state) {
  SyncRig& rig = Rig();
  if (!rig.started) return state.SkipWithError("gateway did not start");
  CountingHost host;
  if (!rig.CatchUp(&host)) return state.SkipWithError("sync failed");
  for (auto _ : state) {
    host.done = false;
    if (!rig.Sync(&host) || host.pages == 0) return state.SkipWithError("sync failed");
  }
}
BENCHMARK(BM_NoChangeSync10k)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quill
