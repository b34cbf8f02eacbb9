// Shared blocks, the post-and-wait for 1027 and the synchronised steps, in-process.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/plugin_records.h"
#include "host/shared_mem.h"
#include "host/sync_window.h"
#include "host_test_support.h"

using namespace vk::host;
using vk::hosttest::PumpUntil;

namespace {

std::string UniqueName(const char* tag) {
  static int n = 0;
  return std::string("VkTest_") + tag + "_" + std::to_string(GetCurrentProcessId()) + "_" +
         std::to_string(n++);
}

// A thread with a queue that runs one reaction per message it takes.
class Peer {
 public:
  explicit Peer(std::function<void(const MSG&)> react) : react_(std::move(react)) {
    thread_ = std::thread([this] {
      MSG m;
      PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
      id_ = GetCurrentThreadId();
      while (GetMessageA(&m, nullptr, 0, 0) > 0) react_(m);
    });
    while (id_ == 0) Sleep(1);
  }
  ~Peer() {
    PostThreadMessageA(id_, WM_QUIT, 0, 0);
    thread_.join();
  }
  DWORD Id() const { return id_; }

 private:
  std::function<void(const MSG&)> react_;
  std::atomic<DWORD> id_{0};
  std::thread thread_;
};

// Everything this thread has queued, in order (quit excluded).
std::vector<UINT> DrainQueue() {
  std::vector<UINT> numbers;
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
    if (m.message != WM_QUIT) numbers.push_back(m.message);
  return numbers;
}

class ShortReplyBound : public ::testing::Test {
 protected:
  void SetUp() override {
    DrainQueue();
    SetHostReplyTimeout(1500);
  }
  void TearDown() override {
    SetHostReplyTimeout(0);
    DrainQueue();
  }
};

}  // namespace

TEST(SharedMem, FreshNamesGiveIndependentCreatedBlocks) {
  const std::string a = UniqueName("a"), b = UniqueName("b");
  TSharedMem first(a, 784), second(b, 529);
  ASSERT_TRUE(first.Created());
  ASSERT_TRUE(second.Created());
  ASSERT_NE(first.Buffer(), nullptr);
  ASSERT_NE(second.Buffer(), nullptr);
  EXPECT_NE(first.Handle(), nullptr);
  EXPECT_EQ(first.MapName(), a);
  EXPECT_EQ(first.Size(), 784u);
  std::memset(first.Buffer(), 0x11, 784);
  std::memset(second.Buffer(), 0x22, 529);
  EXPECT_EQ(first.Buffer()[783], 0x11);
  EXPECT_EQ(second.Buffer()[0], 0x22);
}

TEST(SharedMem, ExistingNameIsNotCreatedButShowsTheExistingBytes) {
  const std::string name = UniqueName("dup");
  TSharedMem owner(name, 529);
  ASSERT_TRUE(owner.Created());
  std::memset(owner.Buffer(), 0xA5, 529);
  {
    TSharedMem again(name, 529);
    EXPECT_FALSE(again.Created());
    ASSERT_NE(again.Buffer(), nullptr);
    EXPECT_EQ(again.Buffer()[0], 0xA5);
    EXPECT_EQ(again.Buffer()[528], 0xA5);
  }
  // The second object's release leaves the first one's block alive.
  HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  EXPECT_NE(h, nullptr);
  if (h) CloseHandle(h);
}

TEST(SharedMem, BlockIsGoneOnceReleased) {
  const std::string name = UniqueName("gone");
  { TSharedMem block(name, 784); ASSERT_TRUE(block.Created()); }
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()), nullptr);
  TSharedMem fresh(name, 784);
  EXPECT_TRUE(fresh.Created());
}

TEST(SharedMem, FailedCreationLeavesNothingToUseOrRelease) {
  // A name that belongs to another kind of object yields no mapping at all.
  const std::string name = UniqueName("event");
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(event, nullptr);
  {
    TSharedMem block(name, 784);
    EXPECT_EQ(block.Handle(), nullptr);
    EXPECT_FALSE(block.Created());
    EXPECT_EQ(block.Buffer(), nullptr);
  }
  // The event is untouched by the failed block's destruction.
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(SetEvent(event));
  CloseHandle(event);

  TSharedMem empty(UniqueName("zero"), 0);
  EXPECT_FALSE(empty.Created());
  EXPECT_EQ(empty.Buffer(), nullptr);
}

TEST_F(ShortReplyBound, ReplyIsTheLParamOfThe1027) {
  const DWORD me = GetCurrentThreadId();
  Peer host([me](const MSG& m) {
    if (m.message == msg::kVersionQuery) PostThreadMessageA(me, msg::kReply, 99, -7);
  });
  int32_t reply = 0;
  EXPECT_TRUE(SendCommand(host.Id(), msg::kVersionQuery, 0, 0, reply));
  EXPECT_EQ(reply, -7);
}

TEST_F(ShortReplyBound, OtherMessagesStayQueuedInTheirOrder) {
  const DWORD me = GetCurrentThreadId();
  Peer host([me](const MSG& m) {
    if (m.message != 1500) return;
    PostThreadMessageA(me, 1601, 0, 0);
    PostThreadMessageA(me, 2048, 0, 0);
    PostThreadMessageA(me, msg::kDisconnect, 0, 0);
    PostThreadMessageA(me, msg::kReply, 0, 5);
    PostThreadMessageA(me, 1602, 0, 0);
  });
  PostThreadMessageA(me, 1600, 0, 0);  // already waiting before the request
  int32_t reply = 0;
  ASSERT_TRUE(SendCommand(host.Id(), 1500, 0, 0, reply));
  EXPECT_EQ(reply, 5);
  Sleep(100);
  EXPECT_EQ(DrainQueue(), (std::vector<UINT>{1600, 1601, 2048, msg::kDisconnect, 1602}));
}

TEST_F(ShortReplyBound, DeadThreadFailsAndLeavesReplyUntouched) {
  DWORD gone = 0;
  std::thread t([&] { gone = GetCurrentThreadId(); });
  t.join();
  int32_t reply = 12345;
  EXPECT_FALSE(SendCommand(gone, msg::kVersionQuery, 0, 0, reply));
  EXPECT_EQ(reply, 12345);
}

TEST_F(ShortReplyBound, NoAnswerRunsOutAndLeavesReplyUntouched) {
  Peer silent([](const MSG&) {});
  int32_t reply = 12345;
  EXPECT_FALSE(SendCommand(silent.Id(), msg::kVersionQuery, 0, 0, reply));
  EXPECT_EQ(reply, 12345);
}

TEST_F(ShortReplyBound, LateReplyOfAnEarlierRequestIsNotTakenAsTheAnswer) {
  const DWORD me = GetCurrentThreadId();
  PostThreadMessageA(me, msg::kReply, 0, 1);  // stale: its wait has run out long ago
  Peer host([me](const MSG& m) {
    if (m.message == msg::kVersionQuery) PostThreadMessageA(me, msg::kReply, 0, 2);
  });
  int32_t reply = 0;
  ASSERT_TRUE(SendCommand(host.Id(), msg::kVersionQuery, 0, 0, reply));
  EXPECT_EQ(reply, 2);
}

TEST_F(ShortReplyBound, QuitEndsTheWaitAndStaysForTheLoop) {
  Peer silent([](const MSG&) {});
  PostQuitMessage(3);
  int32_t reply = 12345;
  EXPECT_FALSE(SendCommand(silent.Id(), msg::kVersionQuery, 0, 0, reply));
  EXPECT_EQ(reply, 12345);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(m.wParam, 3u);
}

TEST_F(ShortReplyBound, StepsOfOtherThreadsRunDuringTheWait) {
  // The peer hands a step to this thread and answers only once the step has run;
  // a wait that did not serve sent messages would never see the answer.
  TSyncWindow sync;
  const DWORD me = GetCurrentThreadId();
  std::atomic<DWORD> ranOn{0};
  Peer host([&](const MSG& m) {
    if (m.message != msg::kRegisterService) return;
    sync.Run([&] { ranOn = GetCurrentThreadId(); });
    PostThreadMessageA(me, msg::kReply, 0, ranOn == me ? 1 : 0);
  });
  int32_t reply = 0;
  ASSERT_TRUE(SendCommand(host.Id(), msg::kRegisterService, 0, 529, reply));
  EXPECT_EQ(reply, 1);
  EXPECT_EQ(ranOn.load(), me);
}

TEST(SyncWindow, CallerBlocksUntilTheOwnerHasRunTheStep) {
  TSyncWindow sync;
  std::atomic<int> stage{0};
  std::thread caller([&] {
    sync.Run([&] { stage = 1; });
    if (stage == 1) stage = 2;  // only after the step, never before
  });
  EXPECT_TRUE(PumpUntil([&] { return stage == 2; }));
  caller.join();
}

TEST(SyncWindow, ClosedWindowDropsSteps) {
  TSyncWindow sync;
  sync.Close();
  std::atomic<bool> ran{false}, returned{false};
  std::thread caller([&] {
    sync.Run([&] { ran = true; });
    returned = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return returned.load(); }));
  caller.join();
  EXPECT_FALSE(ran);
}

namespace {

struct StepperArgs {
  TSyncWindow* sync;
  std::atomic<int>* steps;
};

DWORD WINAPI RunThreeSteps(void* p) {
  std::unique_ptr<StepperArgs> args(static_cast<StepperArgs*>(p));
  for (int i = 0; i < 3; ++i) args->sync->Run([&] { ++*args->steps; });
  return 0;
}

}  // namespace

TEST(SyncWindow, WaitingForAThreadServesItsSteps) {
  TSyncWindow sync;
  std::atomic<int> steps{0};
  HANDLE thread = CreateThread(nullptr, 0, &RunThreeSteps, new StepperArgs{&sync, &steps}, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitServingSentMessages(thread);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  EXPECT_EQ(steps.load(), 3);
  CloseHandle(thread);
}
