#pragma once
// A small pool of threads for the archive engine's compression and extraction work,
// and the signal by which the calling thread waits for their results in order.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vk::zip {

class WorkerPool {
 public:
  // threads 0: one per processor.
  explicit WorkerPool(unsigned threads = 0);
  // Runs what is still queued, then ends the threads.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Tasks catch their own errors; one that escapes is dropped.
  void Submit(std::function<void()> task);
  unsigned Threads() const { return static_cast<unsigned>(threads_.size()); }

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// Workers call Notify after changing shared state under Lock(); the waiting thread
// re-checks its condition after every notification.
class Signal {
 public:
  std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex_); }
  void Notify() { changed_.notify_all(); }
  template <typename Predicate>
  void Wait(std::unique_lock<std::mutex>& lock, Predicate done) {
    changed_.wait(lock, done);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

}  // namespace vk::zip
