#include "engine/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace quill {
namespace engine {
namespace {

constexpr uint32_t kLong = 10000;

// Counts live responses so that a leak or a double free shows.
std::atomic<int> g_live_results{0};

class CountedResult : public JobResult {
 public:
  explicit CountedResult(int32_t code) : code_(code) { ++g_live_results; }
  ~CountedResult() override { --g_live_results; }
  int32_t ResultCode() const override { return code_; }

 private:
  int32_t code_;
};

// A gate that jobs wait on, so a test decides when they finish.
struct Gate {
  std::mutex mu;
  std::condition_variable cv;
  bool open = false;
  void Open() {
    std::lock_guard<std::mutex> l(mu);
    open = true;
    cv.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> l(mu);
    cv.wait(l, [this] { return open; });
  }
};

struct Recorder : public JobListener {
  std::vector<uint32_t> ran;  // job ids in the order their data arrived (UI thread)
  std::vector<uint32_t> ended;
  std::vector<int32_t> codes;
  std::vector<uint32_t> errors;
  MessageLoop* loop = nullptr;
  bool off_thread = false;

  void OnJobEvent(JobEventKind kind, int32_t code, int, NetJob* job) override {
    off_thread |= !loop->IsUiThread();
    if (kind == JobEventKind::kData) ran.push_back(job->job_id());
    if (kind == JobEventKind::kError) errors.push_back(static_cast<uint32_t>(code));
    codes.push_back(code);
  }
  void OnJobEnded(uint32_t job_id, int, uint32_t) override {
    off_thread |= !loop->IsUiThread();
    ended.push_back(job_id);
  }
};

class TestJob : public NetJob {
 public:
  TestJob(Gate* gate, Recorder* rec) : gate_(gate) { set_listener(rec); }
  void Run(WorkerLink& link) override {
    if (gate_) gate_->Wait();
    if (error_step_) {
      link.SendError(5, error_step_);
      return;
    }
    link.SendPercent(std::make_unique<CountedResult>(0));
    link.SendData(std::make_unique<CountedResult>(static_cast<int32_t>(job_id())));
    saw_cancel_ = !link.ShouldContinue();
    if (saw_cancel_ && saw_cancel_count_ != nullptr) ++*saw_cancel_count_;
  }
  int GetJobType() const override { return kJobSync; }
  void OnDataCome(uint32_t, int, JobResult* response, uint32_t) override {
    EXPECT_NE(response, nullptr);
  }
  uint32_t error_step_ = 0;
  bool saw_cancel_ = false;
  std::atomic<int>* saw_cancel_count_ = nullptr;  // counts the jobs that saw a cancel

 private:
  Gate* gate_;
};

class WorkerPoolTest : public ::testing::Test {
 protected:
  void SetUp() override { rec_.loop = &loop_; }
  void TearDown() override { EXPECT_FALSE(rec_.off_thread); }
  bool PumpUntil(const std::function<bool()>& done) { return loop_.PumpUntil(done, kLong); }

  MessageLoop loop_;
  Recorder rec_;
};

TEST_F(WorkerPoolTest, IdsIncreaseAndJobsRunInQueueOrder) {
  {
    WorkerPool pool(&loop_);
    Gate gate;
    std::vector<int32_t> ids;
    for (int i = 0; i < 8; ++i) ids.push_back(pool.AddJob(std::make_unique<TestJob>(&gate, &rec_)));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(ids[i], i + 1);
    // Added in one pass: the first worker still counts as idle, so one worker.
    EXPECT_EQ(pool.worker_count(), 1u);
    gate.Open();
    ASSERT_TRUE(PumpUntil([&] { return rec_.ended.size() == 8; }));
    EXPECT_EQ(rec_.ran, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(rec_.ended, rec_.ran);
    EXPECT_EQ(pool.AddJob(nullptr), -1);
    EXPECT_EQ(pool.AddJob(std::make_unique<TestJob>(nullptr, &rec_)), 9);
    ASSERT_TRUE(PumpUntil([&] { return rec_.ended.size() == 9; }));
  }
  EXPECT_EQ(g_live_results, 0);
}

TEST_F(WorkerPoolTest, GrowsLazilyToThreeWorkers) {
  WorkerPool pool(&loop_);
  Gate gate;
  for (size_t want = 1; want <= 3; ++want) {
    pool.AddJob(std::make_unique<TestJob>(&gate, &rec_));
    EXPECT_EQ(pool.worker_count(), want);
    ASSERT_TRUE(PumpUntil([&] { return pool.busy_count() == want; }));
  }
  pool.AddJob(std::make_unique<TestJob>(&gate, &rec_));
  pool.AddJob(std::make_unique<TestJob>(&gate, &rec_));
  EXPECT_EQ(pool.worker_count(), 3u);
  EXPECT_EQ(pool.queued_count(), 2u);
  gate.Open();
  ASSERT_TRUE(PumpUntil([&] { return rec_.ended.size() == 5; }));
  std::set<uint32_t> ended(rec_.ended.begin(), rec_.ended.end());
  EXPECT_EQ(ended, (std::set<uint32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(pool.worker_count(), 3u);
}

TEST_F(WorkerPoolTest, CancelQueuedRunningAndUnknown) {
  WorkerPool pool(&loop_);
  Gate gate;
  int32_t running = pool.AddJob(std::make_unique<TestJob>(&gate, &rec_));
  ASSERT_TRUE(PumpUntil([&] { return pool.busy_count() == 1; }));
  int32_t queued = pool.AddJob(std::make_unique<TestJob>(&gate, &rec_));
  // Three busy workers would be needed to keep it queued; hold the others too.
  ASSERT_TRUE(PumpUntil([&] { return pool.busy_count() == 2; }));
  pool.AddJob(std::make_unique<TestJob>(&gate, &rec_));
  ASSERT_TRUE(PumpUntil([&] { return pool.busy_count() == 3; }));
  int32_t waiting = pool.AddJob(std::make_unique<TestJob>(&gate, &rec_));
  EXPECT_EQ(pool.queued_count(), 1u);
  EXPECT_EQ(pool.CancelJob(static_cast<uint32_t>(waiting)), 0u);  // deleted unrun
  EXPECT_EQ(pool.queued_count(), 0u);
  EXPECT_EQ(pool.CancelJob(static_cast<uint32_t>(running)), 1u);  // flag cleared only
  EXPECT_EQ(pool.CancelJob(999), 0u);
  gate.Open();
  ASSERT_TRUE(PumpUntil([&] { return rec_.ended.size() == 3; }));
  std::set<uint32_t> ended(rec_.ended.begin(), rec_.ended.end());
  EXPECT_EQ(ended.count(static_cast<uint32_t>(waiting)), 0u);
  EXPECT_EQ(ended.count(static_cast<uint32_t>(running)), 1u);  // callbacks still came
  EXPECT_EQ(ended.count(static_cast<uint32_t>(queued)), 1u);
  loop_.PumpUntil([] { return false; }, 50);
  EXPECT_EQ(rec_.ended.size(), 3u);  // exactly one end each
}

TEST_F(WorkerPoolTest, CancelAllFreesQueueAndErrorsReachListener) {
  WorkerPool pool(&loop_);
  Gate gate;
  std::atomic<int> saw_cancel{0};
  // Three running jobs (one of them fails) fill the workers; four wait.
  std::vector<int32_t> running;
  for (int i = 0; i < 3; ++i) {
    auto job = std::make_unique<TestJob>(&gate, &rec_);
    if (i == 0) job->error_step_ = 4;
    job->saw_cancel_count_ = &saw_cancel;
    running.push_back(pool.AddJob(std::move(job)));
    ASSERT_TRUE(PumpUntil([&] { return pool.busy_count() == running.size(); }));
  }
  for (int i = 0; i < 4; ++i) pool.AddJob(std::make_unique<TestJob>(&gate, &rec_));
  ASSERT_EQ(pool.queued_count(), 4u);
  EXPECT_EQ(pool.CancelAllJobs(), 1u);
  EXPECT_EQ(pool.queued_count(), 0u);  // the waiting ones are gone unrun
  gate.Open();
  ASSERT_TRUE(PumpUntil([&] { return rec_.ended.size() == 3; }));
  // The running ones still end, each once, having been told to stop; the
  // failing one's error reached the listener.
  std::set<uint32_t> ended(rec_.ended.begin(), rec_.ended.end());
  EXPECT_EQ(ended, std::set<uint32_t>(running.begin(), running.end()));
  EXPECT_EQ(rec_.errors, std::vector<uint32_t>{4});
  EXPECT_EQ(rec_.ran.size(), 2u);
  EXPECT_EQ(saw_cancel, 2);  // the two that did not fail looked
  ASSERT_TRUE(PumpUntil([&] { return pool.busy_count() == 0; }));
  EXPECT_EQ(rec_.ended.size(), 3u);
  EXPECT_EQ(g_live_results, 0);
}

TEST_F(WorkerPoolTest, TeardownWithRunningJobNeitherHangsNorLeaks) {
  Gate gate;
  {
    WorkerPool::Options options;
    options.join_timeout_ms = 100;
    WorkerPool pool(&loop_, options);
    pool.AddJob(std::make_unique<TestJob>(&gate, &rec_));
    ASSERT_TRUE(PumpUntil([&] { return pool.busy_count() == 1; }));
    pool.AddJob(std::make_unique<TestJob>(&gate, &rec_));  // queued behind
    ASSERT_TRUE(PumpUntil([&] { return pool.worker_count() == 2 && pool.busy_count() == 2; }));
    pool.AddJob(std::make_unique<TestJob>(&gate, &rec_));
    ASSERT_TRUE(PumpUntil([&] { return pool.busy_count() == 3; }));
    pool.AddJob(std::make_unique<TestJob>(&gate, &rec_));  // stays queued
  }  // teardown while three jobs block in Run
  // Every started job ended exactly once; the queued one never started.
  std::set<uint32_t> ended(rec_.ended.begin(), rec_.ended.end());
  EXPECT_EQ(rec_.ended.size(), 3u);
  EXPECT_EQ(ended, (std::set<uint32_t>{1, 2, 3}));
  gate.Open();  // detached workers finish and free their jobs and responses
  for (int i = 0; i < 1000 && g_live_results != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(g_live_results, 0);
  loop_.PumpUntil([] { return false; }, 20);
  EXPECT_EQ(rec_.ended.size(), 3u);  // no second end from the workers
}

TEST_F(WorkerPoolTest, ProcessPoolIsReferenceCounted) {
  WorkerPool* a = WorkerPool::GetPool(&loop_);
  ASSERT_NE(a, nullptr);
  MessageLoop other;
  EXPECT_EQ(WorkerPool::GetPool(&other), nullptr);
  WorkerPool* b = WorkerPool::GetPool(&loop_);
  EXPECT_EQ(a, b);
  WorkerPool::ReleasePool(nullptr);  // ignored
  WorkerPool::ReleasePool(a);
  EXPECT_EQ(a->AddJob(std::make_unique<TestJob>(nullptr, &rec_)), 1);  // still alive
  ASSERT_TRUE(PumpUntil([&] { return rec_.ended.size() == 1; }));
  WorkerPool::ReleasePool(b);  // torn down
  WorkerPool* c = WorkerPool::GetPool(&other);
  EXPECT_NE(c, nullptr);
  WorkerPool::ReleasePool(c);
}

}  // namespace
}  // namespace engine
}  // namespace quill
