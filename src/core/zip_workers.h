#pragma once
// A small pool of threads for the archive engine's compression and extraction work,
// and the signal by which the calling thread waits for their results in order.
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <condition_variable>
#endif

namespace vk::zip {

// The engine's lock and condition variable. On Windows they are the slim
// reader/writer lock and its condition variable: under Wine these wait on the
// thread itself, where the C++ library's mutex and condition variable go through
// the server (a round trip for every contended lock, wait and wake-up).
class Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void lock();
  void unlock();

 private:
  friend class CondVar;
#ifdef _WIN32
  void* state_ = nullptr;  // an SRWLOCK, which starts as zero
#else
  std::mutex mutex_;
#endif
};

class CondVar {
 public:
  CondVar() = default;
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;
  void Wait(std::unique_lock<Mutex>& lock);
  // Returns false when the time ran out first (or the wake-up was spurious).
  bool WaitFor(std::unique_lock<Mutex>& lock, unsigned milliseconds);
  template <typename Predicate>
  void Wait(std::unique_lock<Mutex>& lock, Predicate done) {
    while (!done()) Wait(lock);
  }
  void NotifyOne();
  void NotifyAll();

 private:
#ifdef _WIN32
  void* state_ = nullptr;  // a CONDITION_VARIABLE, which starts as zero
#else
  std::condition_variable_any changed_;
#endif
};

class WorkerPool {
 public:
  // threads 0: one per processor. A thread that cannot be started ends the
  // construction with std::system_error, after the ones started have ended.
  explicit WorkerPool(unsigned threads = 0);
  // The next pool's thread start fails, as when the system has no room for one.
  static void FailNextStartForTesting(bool fail);
  // The number of processors, at least 1.
  static unsigned Processors();
  // Runs what is still queued, then ends the threads.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Tasks catch their own errors; one that escapes is dropped. A hardware fault
  // inside this module abandons the task where it stands: it never reports back, so
  // the fault is kept for the waiting thread (TakeFault).
  void Submit(std::function<void()> task);
  unsigned Threads() const { return static_cast<unsigned>(threads_.size()); }

  // True once after a task of any pool of this module faulted.
  static bool TakeFault();
  // For a fault of the thread that drives the pools, before it leaves their owners'
  // frames: every pool drops its queue and ends, and this waits (boundedly) until no
  // task runs any more, so that none touches those frames once they are reused.
  static void StopAfterFault();

 private:
  void Run();
  void Stop();

  Mutex mutex_;
  CondVar wake_;
  CondVar idle_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  unsigned busy_ = 0;  // workers inside a task
  std::vector<std::thread> threads_;
};

// Workers call Notify after changing shared state under Lock(); the waiting thread
// re-checks its condition after every notification.
class Signal {
 public:
  std::unique_lock<Mutex> Lock() { return std::unique_lock<Mutex>(mutex_); }
  void Notify() { changed_.NotifyAll(); }
  // A worker that faulted never notifies: the wait looks for that every kFaultPollMs.
  template <typename Predicate>
  void Wait(std::unique_lock<Mutex>& lock, Predicate done) {
    while (!done()) {
      LeaveIfWorkerFaulted(lock);
      changed_.WaitFor(lock, kFaultPollMs);
    }
  }
  // As Wait, but gives up after about `milliseconds`; returns done().
  template <typename Predicate>
  bool WaitFor(std::unique_lock<Mutex>& lock, unsigned milliseconds, Predicate done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
      LeaveIfWorkerFaulted(lock);
      const auto now = std::chrono::steady_clock::now();
      if (now >= end) return false;
      changed_.WaitFor(lock, static_cast<unsigned>(
                                 std::chrono::ceil<std::chrono::milliseconds>(end - now).count()));
    }
    return true;
  }

 private:
  static constexpr unsigned kFaultPollMs = 50;
  // After a worker's fault the waiting thread faults too, inside this module, so that
  // the call ends as the caller's guard ends a fault of its own.
  static void LeaveIfWorkerFaulted(std::unique_lock<Mutex>& lock);

  Mutex mutex_;
  CondVar changed_;
};

}  // namespace vk::zip
