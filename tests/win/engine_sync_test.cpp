// The engine's lock and condition variable on Windows (slim reader/writer locks),
// under real contention between threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "core/zip_workers.h"

namespace zip = vk::zip;

TEST(EngineSync, TheLockKeepsThreadsApart) {
  zip::Mutex mutex;
  long counter = 0;  // not atomic: only the lock protects it
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50000; ++i) {
        std::lock_guard<zip::Mutex> lock(mutex);
        counter = counter + 1;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 4 * 50000);
}

TEST(EngineSync, NoWakeUpIsLostBetweenTwoThreads) {
  // A ball passed back and forth: each pass needs a wait that sees the other
  // side's change; one lost wake-up would stop the game.
  zip::Signal signal;
  int ball = 0;
  constexpr int kPasses = 20000;
  std::thread other([&] {
    for (int i = 1; i < kPasses; i += 2) {
      auto lock = signal.Lock();
      signal.Wait(lock, [&] { return ball == i; });
      ++ball;
      signal.Notify();
    }
  });
  for (int i = 0; i < kPasses; i += 2) {
    auto lock = signal.Lock();
    signal.Wait(lock, [&] { return ball == i; });
    ++ball;
    signal.Notify();
  }
  other.join();
  EXPECT_EQ(ball, kPasses);
}

TEST(EngineSync, APoolRunsEveryTaskWhileTheCallerWaitsForEach) {
  zip::Signal signal;
  std::vector<int> done(3000, 0);
  {
    zip::WorkerPool pool(3);
    for (size_t i = 0; i < done.size(); ++i) {
      pool.Submit([&, i] {
        auto lock = signal.Lock();
        done[i] = 1;
        signal.Notify();
      });
    }
    // In order, as the engine waits for its pieces.
    for (size_t i = 0; i < done.size(); ++i) {
      auto lock = signal.Lock();
      signal.Wait(lock, [&] { return done[i] == 1; });
    }
  }
  EXPECT_EQ(std::count(done.begin(), done.end(), 1), static_cast<long>(done.size()));
}
