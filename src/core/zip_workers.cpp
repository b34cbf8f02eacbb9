#include "core/zip_workers.h"

#include <algorithm>
#include <atomic>
#include <system_error>

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
}  // namespace

void WorkerPool::FailNextStartForTesting(bool fail) { g_failNextStart = fail; }

WorkerPool::WorkerPool(unsigned threads) {
  if (threads == 0) threads = Processors();
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
    }
    try {
      task();
    } catch (...) {
    }
  }
}

}  // namespace vk::zip
