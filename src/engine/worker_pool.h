// The worker pool: up to three worker threads that run NetJobs taken from
// one first-in-first-out queue. Each worker owns an endpoint on the UI
// message loop and reports through blocking sends to it, so every job
// callback runs on the UI thread while the job's own Run waits.
//
// Workers are made lazily: AddJob starts a new one only when no worker is
// idle, where a worker counts as busy from the moment the UI thread handled
// its WM_JOB_START until it handled WM_JOB_END. Job ids start at 1 and are
// never reused.
//
// Threading: every member is called on the UI thread (the loop's thread).
// The queue, the id counter and the running list are guarded by one mutex;
// nothing is ever sent to the UI thread while it is held, and no worker
// spins: idle workers wait on a condition variable (bounded at ten
// minutes), teardown wakes them all.
//
// Teardown (the destructor, or the last ReleasePool): stop flag, cancel the
// running jobs' active flags (their HTTP transfers stop within about a
// second, see exchange.h), free the queued jobs, report the end of every
// started job to its listener, close the endpoints (blocked sends return
// false at once), then join the workers for at most join_timeout_ms. A
// worker still inside a long Run is then detached; it keeps the pool's
// shared state alive, frees its job itself and ends, but whatever else its
// job uses must outlive it: an owner whose jobs use its members joins with
// kJoinAll, which waits for every worker.
#ifndef QUILL_ENGINE_WORKER_POOL_H_
#define QUILL_ENGINE_WORKER_POOL_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/net_job.h"
#include "platform/message_loop.h"

namespace quill {
namespace engine {

class WorkerPool {
 public:
  static constexpr size_t kMaxWorkers = 3;
  static constexpr uint32_t kWaitMs = 600000;  // bound of every idle wait

  // join_timeout_ms: wait for every worker, however long.
  static constexpr uint32_t kJoinAll = UINT32_MAX;

  struct Options {
    uint32_t join_timeout_ms = 5000;  // teardown's bound on joining workers, or kJoinAll
  };

  // loop must outlive the pool; the calling thread must be its UI thread.
  WorkerPool(MessageLoop* loop, Options options);
  explicit WorkerPool(MessageLoop* loop) : WorkerPool(loop, Options()) {}
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // The process pool, reference counted. Null when a pool for another loop
  // exists. Each successful call needs one ReleasePool.
  static WorkerPool* GetPool(MessageLoop* loop);
  // Ignored unless pool is the process pool; the last release tears it down.
  static void ReleasePool(WorkerPool* pool);

  // Queues *job and returns its id (positive), taking the job; or -1, when
  // *job is null, the pool was torn down, or no worker exists and none
  // could be started: the job then stays with the caller.
  int32_t Submit(std::unique_ptr<NetJob>* job);
  // As Submit; a refused job is freed.
  int32_t AddJob(std::unique_ptr<NetJob> job) { return Submit(&job); }
  // Frees a queued job with that id unrun (returns 0), or clears the active
  // flag of the running one (returns 1). 0 when there is neither.
  uint32_t CancelJob(uint32_t job_id);
  // Frees every queued job and clears the active flag of every running one.
  uint32_t CancelAllJobs();

  // Tears the pool down now (the destructor does it otherwise); an owner
  // whose listener members die before the pool calls it first. Idempotent.
  void Teardown();

  size_t worker_count() const;  // workers started so far
  size_t busy_count() const;    // workers whose start the UI thread handled
  size_t queued_count() const;  // jobs waiting in the queue

 private:
  struct Core;
  struct Worker;

  static void WorkerMain(std::shared_ptr<Core> core, EndpointRef endpoint,
                         std::shared_ptr<std::atomic<bool>> ended);
  intptr_t OnWorkerMessage(Worker* worker, uint32_t msg, uintptr_t wparam, intptr_t lparam);
  bool StartWorker();

  MessageLoop* const loop_;
  const Options options_;
  std::shared_ptr<Core> core_;                   // shared with the worker threads
  std::vector<std::unique_ptr<Worker>> workers_;  // UI thread only
  bool torn_down_ = false;                        // UI thread only
};

}  // namespace engine
}  // namespace quill

#endif  // QUILL_ENGINE_WORKER_POOL_H_
