#include "engine/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "engine/trace.h"
#include "platform/thread.h"

namespace quill {
namespace engine {

// State shared by the pool and its threads; outlives detached workers.
struct WorkerPool::Core {
  std::mutex mu;                 // the queue mutex
  std::condition_variable wake;  // the job event: queue not empty, or stopping
  std::condition_variable exited;  // a worker thread ended
  // Everything below is guarded by mu.
  std::deque<std::unique_ptr<NetJob>> queue;
  std::vector<NetJob*> running;  // fetched and not yet freed by their worker
  uint32_t next_id = 1;
  bool stopping = false;
  size_t live_threads = 0;
};

struct WorkerPool::Worker {
  EndpointId endpoint = 0;    // the worker's endpoint on the UI loop
  std::thread thread;         // the worker thread
  NetJob* current = nullptr;  // UI thread only: started and not yet ended
  std::shared_ptr<std::atomic<bool>> ended =  // set by the thread as its last act
      std::make_shared<std::atomic<bool>>(false);
};

WorkerPool::WorkerPool(MessageLoop* loop, Options options)
    : loop_(loop), options_(options), core_(std::make_shared<Core>()) {}

WorkerPool::~WorkerPool() { Teardown(); }

namespace {
std::mutex g_pool_mu;              // guards the three below
WorkerPool* g_pool = nullptr;      // the process pool
MessageLoop* g_pool_loop = nullptr;  // the loop it was made for
int g_pool_refs = 0;
}  // namespace

WorkerPool* WorkerPool::GetPool(MessageLoop* loop) {
  std::lock_guard<std::mutex> lock(g_pool_mu);
  if (g_pool && g_pool_loop != loop) return nullptr;
  if (!g_pool) {
    g_pool = new WorkerPool(loop);
    g_pool_loop = loop;
  }
  ++g_pool_refs;
  return g_pool;
}

void WorkerPool::ReleasePool(WorkerPool* pool) {
  WorkerPool* doomed = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_pool_mu);
    if (!pool || pool != g_pool) return;
    if (--g_pool_refs > 0) return;
    doomed = g_pool;
    g_pool = nullptr;
    g_pool_loop = nullptr;
  }
  delete doomed;  // teardown runs without the registry lock
}

bool WorkerPool::StartWorker() {
  auto worker = std::make_unique<Worker>();
  Worker* raw = worker.get();
  worker->endpoint = loop_->CreateEndpoint(
      [this, raw](uint32_t msg, uintptr_t wparam, intptr_t lparam) -> intptr_t {
        return OnWorkerMessage(raw, msg, wparam, lparam);
      });
  if (worker->endpoint == 0) return false;
  {
    std::lock_guard<std::mutex> lock(core_->mu);
    ++core_->live_threads;
  }
  std::shared_ptr<Core> core = core_;
  EndpointRef ref = loop_->Ref(worker->endpoint);
  std::shared_ptr<std::atomic<bool>> ended = worker->ended;
  if (!StartThread([core, ref, ended] { WorkerMain(core, ref, ended); }, &worker->thread)) {
    loop_->DestroyEndpoint(worker->endpoint);
    std::lock_guard<std::mutex> lock(core_->mu);
    --core_->live_threads;
    return false;
  }
  workers_.push_back(std::move(worker));
  return true;
}

int32_t WorkerPool::Submit(std::unique_ptr<NetJob>* submitted) {
  if (!*submitted || torn_down_) return -1;
  bool any_idle = std::any_of(workers_.begin(), workers_.end(),
                              [](const std::unique_ptr<Worker>& w) { return w->current == nullptr; });
  if (!any_idle && workers_.size() < kMaxWorkers && !StartWorker() && workers_.empty()) {
    return -1;
  }
  uint32_t id;
  {
    std::lock_guard<std::mutex> lock(core_->mu);
    id = core_->next_id++;
    (*submitted)->job_id_ = id;
    core_->queue.push_back(std::move(*submitted));
  }
  core_->wake.notify_one();
  WriteLog(kNetworkLog, "Job Added (jobid)", id, 0);
  return static_cast<int32_t>(id);
}

uint32_t WorkerPool::CancelJob(uint32_t job_id) {
  std::vector<std::unique_ptr<NetJob>> doomed;  // freed after the lock
  uint32_t result = 0;
  {
    std::lock_guard<std::mutex> lock(core_->mu);
    auto& q = core_->queue;
    for (auto it = q.begin(); it != q.end();) {
      if ((*it)->job_id() == job_id) {
        doomed.push_back(std::move(*it));
        it = q.erase(it);
      } else {
        ++it;
      }
    }
    for (NetJob* job : core_->running) {
      if (job->job_id() == job_id) {
        job->active_.store(0, std::memory_order_release);
        result = 1;
      }
    }
  }
  return result;
}

uint32_t WorkerPool::CancelAllJobs() {
  std::deque<std::unique_ptr<NetJob>> doomed;
  {
    std::lock_guard<std::mutex> lock(core_->mu);
    doomed.swap(core_->queue);
    for (NetJob* job : core_->running) job->active_.store(0, std::memory_order_release);
  }
  return 1;
}

size_t WorkerPool::worker_count() const { return workers_.size(); }

size_t WorkerPool::busy_count() const {
  return static_cast<size_t>(std::count_if(workers_.begin(), workers_.end(),
                                           [](const std::unique_ptr<Worker>& w) { return w->current != nullptr; }));
}

size_t WorkerPool::queued_count() const {
  std::lock_guard<std::mutex> lock(core_->mu);
  return core_->queue.size();
}

intptr_t WorkerPool::OnWorkerMessage(Worker* worker, uint32_t msg, uintptr_t wparam,
                                     intptr_t lparam) {
  NetJob* job = reinterpret_cast<NetJob*>(wparam);
  switch (msg) {
    case WM_JOB_START:
      worker->current = job;
      return 0;
    case WM_JOB_END:
      if (worker->current == job && job) {
        worker->current = nullptr;
        if (job->listener()) job->listener()->OnJobEnded(job->job_id(), job->GetJobType(), job->user_data());
      }
      return 0;
    default:
      break;
  }
  if (worker->current) {
    worker->current->OnThreadMessage(msg, wparam, lparam);
  } else if (msg == WM_CMD_DATA_COME || msg == WM_CMD_DATA_PERCENT) {
    delete reinterpret_cast<JobResult*>(lparam);  // the receiver owns it, even unread
  }
  return 0;
}

void WorkerPool::Teardown() {
  if (torn_down_) return;
  torn_down_ = true;
  std::deque<std::unique_ptr<NetJob>> doomed;
  {
    std::lock_guard<std::mutex> lock(core_->mu);
    core_->stopping = true;
    doomed.swap(core_->queue);
    for (NetJob* job : core_->running) job->active_.store(0, std::memory_order_release);
  }
  core_->wake.notify_all();
  doomed.clear();
  // The started jobs end now for their listeners; their workers still own them
  // and cannot free them before their WM_JOB_END send fails below.
  for (auto& w : workers_) {
    NetJob* job = w->current;
    if (!job) continue;
    w->current = nullptr;
    if (job->listener()) job->listener()->OnJobEnded(job->job_id(), job->GetJobType(), job->user_data());
  }
  for (auto& w : workers_) loop_->DestroyEndpoint(w->endpoint);
  {
    std::unique_lock<std::mutex> lock(core_->mu);
    const auto all_ended = [this] { return core_->live_threads == 0; };
    if (options_.join_timeout_ms == kJoinAll) {
      core_->exited.wait(lock, all_ended);
    } else {
      core_->exited.wait_for(lock, std::chrono::milliseconds(options_.join_timeout_ms), all_ended);
    }
    if (core_->live_threads != 0) {
      WriteLog(kNetworkLog, "Pool teardown: workers still running (count)",
               static_cast<uint32_t>(core_->live_threads), 0);
    }
  }
  for (auto& w : workers_) {
    // A worker that has not ended is detached; it holds its own reference
    // to the shared state and frees its job itself.
    if (!w->thread.joinable()) continue;
    if (w->ended->load(std::memory_order_acquire)) {
      w->thread.join();
    } else {
      w->thread.detach();
    }
  }
  workers_.clear();
}

void WorkerPool::WorkerMain(std::shared_ptr<Core> core, EndpointRef endpoint,
                            std::shared_ptr<std::atomic<bool>> ended) {
  const uint32_t tid = CurrentThreadNumber();
  WriteLog(kNetworkLog, "Thread start (threadid)", tid, 0);
  for (;;) {
    std::unique_ptr<NetJob> job;
    {
      std::unique_lock<std::mutex> lock(core->mu);
      core->wake.wait_for(lock, std::chrono::milliseconds(WorkerPool::kWaitMs),
                          [&core] { return core->stopping || !core->queue.empty(); });
      if (core->stopping) break;
      if (core->queue.empty()) continue;  // a quiet ten minutes
      job = std::move(core->queue.front());
      core->queue.pop_front();
      // Active from the fetch on, so a cancel between fetch and Run sticks.
      job->active_.store(1, std::memory_order_release);
      core->running.push_back(job.get());
      WriteLog(kNetworkLog, "Job Got by thread (jobid,threadid)", job->job_id(), tid);
      if (!core->queue.empty()) core->wake.notify_one();  // pass the signal on
    }
    NetJob* raw = job.get();
    WriteLog(kNetworkLog, "job start (jobid,threadid)", raw->job_id(), tid);
    // A start the UI thread never saw means the pool is going away: skip Run.
    if (endpoint.Send(WM_JOB_START, reinterpret_cast<uintptr_t>(raw), 0)) {
      WorkerLink link(endpoint, raw);
      raw->Run(link);
      endpoint.Send(WM_JOB_END, reinterpret_cast<uintptr_t>(raw), 0);
    }
    WriteLog(kNetworkLog, "job end (jobid,threadid)", raw->job_id(), tid);
    {
      std::lock_guard<std::mutex> lock(core->mu);
      auto& r = core->running;
      r.erase(std::find(r.begin(), r.end(), raw));
    }
    job.reset();
  }
  WriteLog(kNetworkLog, "Thread end (threadid)", tid, 0);
  std::lock_guard<std::mutex> lock(core->mu);
  --core->live_threads;
  ended->store(true, std::memory_order_release);
  core->exited.notify_all();
}

}  // namespace engine
}  // namespace quill
