#include "core/zip_workers.h"

#include <algorithm>
#include <atomic>
#include <system_error>

#include "core/fault_guard.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vk::zip {

#ifdef _WIN32
static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));

void Mutex::lock() { AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(&state_)); }
void Mutex::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(&state_)); }

void CondVar::Wait(std::unique_lock<Mutex>& lock) {
  SleepConditionVariableSRW(reinterpret_cast<CONDITION_VARIABLE*>(&state_),
                            reinterpret_cast<SRWLOCK*>(&lock.mutex()->state_), INFINITE, 0);
}
bool CondVar::WaitFor(std::unique_lock<Mutex>& lock, unsigned milliseconds) {
  return SleepConditionVariableSRW(reinterpret_cast<CONDITION_VARIABLE*>(&state_),
                                   reinterpret_cast<SRWLOCK*>(&lock.mutex()->state_), milliseconds, 0) != 0;
}
void CondVar::NotifyOne() { WakeConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(&state_)); }
void CondVar::NotifyAll() { WakeAllConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(&state_)); }
#else
void Mutex::lock() { mutex_.lock(); }
void Mutex::unlock() { mutex_.unlock(); }

void CondVar::Wait(std::unique_lock<Mutex>& lock) { changed_.wait(lock); }
bool CondVar::WaitFor(std::unique_lock<Mutex>& lock, unsigned milliseconds) {
  return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds)) == std::cv_status::no_timeout;
}
void CondVar::NotifyOne() { changed_.notify_one(); }
void CondVar::NotifyAll() { changed_.notify_all(); }
#endif

unsigned WorkerPool::Processors() { return std::max(1u, std::thread::hardware_concurrency()); }

namespace {
std::atomic<bool> g_failNextStart{false};
std::atomic<bool> g_workerFaulted{false};
// The pools alive in this module, for StopAfterFault.
Mutex g_poolsMutex;
std::vector<WorkerPool*> g_pools;
const char g_here = 0;  // an address inside this module

void RunTask(void* task) {
  try {
    (*static_cast<std::function<void()>*>(task))();
  } catch (...) {
  }
}
}  // namespace

void WorkerPool::FailNextStartForTesting(bool fail) { g_failNextStart = fail; }

bool WorkerPool::TakeFault() { return g_workerFaulted.exchange(false); }

void WorkerPool::StopAfterFault() {
  // A worker held by a lock of the abandoned frames never becomes idle; after this
  // long the thread leaves anyway.
  constexpr auto kLongest = std::chrono::seconds(5);
  const auto end = std::chrono::steady_clock::now() + kLongest;
  std::lock_guard<Mutex> all(g_poolsMutex);
  for (WorkerPool* pool : g_pools) {
    std::unique_lock<Mutex> lock(pool->mutex_);
    pool->queue_.clear();
    pool->stopping_ = true;
    pool->wake_.NotifyAll();
    while (pool->busy_ > 0 && std::chrono::steady_clock::now() < end) pool->idle_.WaitFor(lock, 50);
  }
}

void Signal::LeaveIfWorkerFaulted(std::unique_lock<Mutex>& lock) {
  if (!WorkerPool::TakeFault()) return;
  lock.unlock();  // the other workers report under it while the pools stop
  __builtin_trap();
}

WorkerPool::WorkerPool(unsigned threads) {
  if (threads == 0) threads = Processors();
  g_workerFaulted = false;  // one left by a call that did not wait for its worker
  {
    std::lock_guard<Mutex> all(g_poolsMutex);
    g_pools.push_back(this);
  }
  threads_.reserve(threads);
  try {
    for (unsigned i = 0; i < threads; ++i) {
      // The last one fails, so the ones already started must be ended.
      if (i + 1 == threads && g_failNextStart.exchange(false))
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      threads_.emplace_back([this] { Run(); });
    }
  } catch (...) {
    // A thread left running (or a joinable one destroyed) would end the process.
    Stop();
    throw;
  }
}

WorkerPool::~WorkerPool() { Stop(); }

void WorkerPool::Stop() {
  {
    std::lock_guard<Mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.NotifyAll();
  for (auto& t : threads_) t.join();
  threads_.clear();
  std::lock_guard<Mutex> all(g_poolsMutex);
  g_pools.erase(std::remove(g_pools.begin(), g_pools.end(), this), g_pools.end());
}

void WorkerPool::Submit(std::function<void()> task) {
  {
    std::lock_guard<Mutex> lock(mutex_);
    queue_.push_back(std::move(task));
  }
  wake_.NotifyOne();
}

void WorkerPool::Run() {
  while (true) {
    std::function<void()> task;
    {
      std::unique_lock<Mutex> lock(mutex_);
      wake_.Wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
      ++busy_;
    }
    static const fault::Module here = fault::ModuleAt(&g_here);
    if (!fault::RunGuarded(here, &RunTask, &task)) g_workerFaulted = true;
    std::lock_guard<Mutex> lock(mutex_);
    --busy_;
    if (stopping_) idle_.NotifyAll();
  }
}

}  // namespace vk::zip
