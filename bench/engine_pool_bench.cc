// Pool round trip against a bare mutex/condition-variable ping-pong, and the
// cost of saving one setting (atomic replace with fsync).
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "engine/worker_pool.h"
#include "platform/file_system.h"
#include "store/config_file.h"

namespace quill {
namespace {

constexpr int kJobs = 10000;
constexpr int kSendsPerJob = 3;

using Clock = std::chrono::steady_clock;

// kJobs units of kSendsPerJob round trips between two threads; seconds.
double PingPongSeconds() {
  std::mutex mu;
  std::condition_variable cv;
  int turn = 0;  // 0: the client may ask, 1: the server may answer
  const int rounds = kJobs * kSendsPerJob;
  auto start = Clock::now();
  std::thread server([&] {
    for (int i = 0; i < rounds; ++i) {
      std::unique_lock<std::mutex> l(mu);
      cv.wait(l, [&] { return turn == 1; });
      turn = 0;
      cv.notify_one();
    }
  });
  for (int i = 0; i < rounds; ++i) {
    std::unique_lock<std::mutex> l(mu);
    turn = 1;
    cv.notify_one();
    cv.wait(l, [&] { return turn == 0; });
  }
  server.join();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class NoOpJob : public engine::NetJob {
 public:
  explicit NoOpJob(engine::JobListener* l) { set_listener(l); }
  void Run(engine::WorkerLink& link) override {
    for (int i = 0; i < kSendsPerJob; ++i) link.SendError(0, 0);
  }
  int GetJobType() const override { return engine::kJobStatInfo; }
};

struct EndCounter : engine::JobListener {
  void OnJobEvent(engine::JobEventKind, int32_t, int, engine::NetJob*) override {}
  void OnJobEnded(uint32_t, int, uint32_t) override { ++ended; }
  int ended = 0;
};

// kJobs no-op jobs through a fresh pool; seconds.
double PoolSeconds() {
  MessageLoop loop;
  EndCounter counter;
  engine::WorkerPool pool(&loop);
  auto start = Clock::now();
  for (int i = 0; i < kJobs; ++i) pool.AddJob(std::make_unique<NoOpJob>(&counter));
  loop.PumpUntil([&] { return counter.ended == kJobs; }, 600000);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_PoolRoundTrip(benchmark::State& state) {
  double pool = 0, ping = 0;
  for (auto _ : state) {
    ping += PingPongSeconds();
    pool += PoolSeconds();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["jobs_per_s"] = kJobs * n / pool;
  state.counters["pingpong_units_per_s"] = kJobs * n / ping;  // 3 round trips a unit
  state.counters["ratio"] = pool / ping;
}
BENCHMARK(BM_PoolRoundTrip)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_SettingSave(benchmark::State& state) {
  char tmpl[] = "/tmp/quill_bench_cfg_XXXXXX";
  if (!mkdtemp(tmpl)) {
    state.SkipWithError("mkdtemp");
    return;
  }
  std::string dir = tmpl;
  store::ConfigFile cfg(DefaultFileSystem());
  cfg.SetPath(dir + "/global.cfg");
  for (int i = 0; i < 18; ++i) cfg.SetInt("KEY" + std::to_string(i), i, false);
  int32_t v = 0;
  for (auto _ : state) {
    if (!cfg.SetInt("AUTOSYNCSPAN", ++v)) state.SkipWithError("save failed");
  }
  std::system(("rm -rf " + dir).c_str());
}
BENCHMARK(BM_SettingSave)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace quill
