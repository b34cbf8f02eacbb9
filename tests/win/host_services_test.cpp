// Services: attaching and loading, command dispatch through the listener, and the
// registrations and unregistrations their setters send to the stand-in host.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/errors.h"
#include "core/plugin_records.h"
#include "host/kestrone_api.h"
#include "host/kestrone_service.h"
#include "host/shared_mem.h"
#include "host_test_support.h"

using namespace vk::host;
using vk::hosttest::KsHost;
using vk::hosttest::LogLine;
using vk::hosttest::PumpFor;
using vk::hosttest::PumpUntil;

namespace {

struct Delivery {
  std::string who;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

class Services : public ::testing::Test {
 protected:
  // Exchanges that succeed wait as long as the program does, however busy the machine.
  void SetUp() override {
    api.SetAutoConnect(false);
    api.SetPIAPIRequiered(7);
    api.Loaded();
  }
  void TearDown() override { SetHostReplyTimeout(0); }

  // A loaded service of api that records what it receives.
  std::unique_ptr<TKestroneService> Make(const std::string& name, int32_t command, bool active = true,
                                         bool withHandler = true) {
    auto s = std::make_unique<TKestroneService>();
    s->SetCommand(command);
    s->SetActive(active);
    s->SetTitle(name);
    if (withHandler)
      s->OnCommand = [this, name](const TMsg& m) { got.push_back({name, m.message, m.wParam, m.lParam}); };
    s->SetKestroneAPI(&api);
    s->Loaded();
    return s;
  }

  // Posts a message to the listener as the host would, and lets it be delivered: a
  // marker posted behind it, which no service has, reaches OnCommand last.
  void HostPosts(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    constexpr LPARAM kMarker = 0x7777;
    const TPluginCmdEvent original = api.OnCommand;
    bool markerSeen = false;
    api.OnCommand = [&](const TMsg& m) {
      if (m.message == 3072 && m.lParam == kMarker) markerSeen = true;
      else if (original) original(m);
    };
    PostThreadMessageA(api.Listener()->ThreadID(), message, wParam, lParam);
    PostThreadMessageA(api.Listener()->ThreadID(), 3072, 0, kMarker);
    EXPECT_TRUE(PumpUntil([&] { return markerSeen; }));
    api.OnCommand = original;
  }

  void CatchAll() {
    api.OnCommand = [this](const TMsg& m) { got.push_back({"api", m.message, m.wParam, m.lParam}); };
  }

  std::vector<std::string> Receivers() const {
    std::vector<std::string> names;
    for (const Delivery& d : got) names.push_back(d.who);
    return names;
  }

  std::vector<Delivery> got;
  TKestroneAPI api;
};

using Names = std::vector<std::string>;

}  // namespace

TEST(ServiceCommand, IsClampedToTheCommandRange) {
  TKestroneService s;
  const std::pair<int32_t, int32_t> cases[] = {
      {100, 2048}, {-5, 2048}, {2047, 2048}, {2048, 2048}, {2500, 2500},
      {3072, 3072}, {3073, 3072}, {5000, 3072}, {INT32_MAX, 3072}, {INT32_MIN, 2048}};
  for (const auto& c : cases) {
    s.SetCommand(c.first);
    EXPECT_EQ(s.Command(), c.second) << c.first;
  }
}

TEST(ServiceTexts, AreCutTo255Characters) {
  TKestroneService s;
  s.SetTitle(std::string(300, 't'));
  s.SetDescription(std::string(256, 'd'));
  EXPECT_EQ(s.Title().size(), 255u);
  EXPECT_EQ(s.Description().size(), 255u);
}

TEST_F(Services, AttachTakesEffectOnlyOnceLoaded) {
  TKestroneService s;
  s.SetKestroneAPI(&api);
  EXPECT_EQ(api.Services().Count(), 0);
  s.Loaded();
  ASSERT_EQ(api.Services().Count(), 1);
  EXPECT_EQ(api.Services().Items(0), &s);
  s.SetKestroneAPI(nullptr);
  EXPECT_EQ(api.Services().Count(), 0);
  s.SetKestroneAPI(&api);
  EXPECT_EQ(api.Services().Count(), 1);
}

TEST_F(Services, DestroyedServiceLeavesTheList) {
  auto a = Make("a", 2048);
  auto b = Make("b", 2049);
  a.reset();
  ASSERT_EQ(api.Services().Count(), 1);
  EXPECT_EQ(api.Services().Items(0), b.get());
}

TEST_F(Services, FirstActiveServiceWithTheNumberTakesTheCommand) {
  CatchAll();
  auto off = Make("off", 2048, /*active=*/false);
  auto first = Make("first", 2048);
  auto second = Make("second", 2048);
  auto other = Make("other", 2050);
  HostPosts(2048, 11, 22);
  HostPosts(2050);
  EXPECT_EQ(Receivers(), (Names{"first", "other"}));
  EXPECT_EQ(got[0].message, 2048u);
  EXPECT_EQ(got[0].wParam, 11u);
  EXPECT_EQ(got[0].lParam, 22);
}

TEST_F(Services, UnmatchedNumbersGoToTheConnectionsOnCommand) {
  CatchAll();
  auto inactive = Make("inactive", 2049, /*active=*/false);
  auto silent = Make("silent", 2050, true, /*withHandler=*/false);
  HostPosts(2049);          // its only service is inactive
  HostPosts(2999);          // nobody has it
  HostPosts(1500, 1, 2);    // below the command range
  HostPosts(msg::kReply);   // a reply that nobody waits for
  HostPosts(2050);          // taken by a service without a handler: not passed on
  EXPECT_EQ(Receivers(), (Names{"api", "api", "api", "api"}));
  EXPECT_EQ(got[0].message, 2049u);
  EXPECT_EQ(got[1].message, 2999u);
  EXPECT_EQ(got[2].message, 1500u);
  EXPECT_EQ(got[2].lParam, 2);
  EXPECT_EQ(got[3].message, msg::kReply);
}

TEST_F(Services, UnmatchedCommandWithoutOnCommandIsDropped) {
  auto s = Make("s", 2048);
  HostPosts(2999);
  HostPosts(2048);
  EXPECT_EQ(Receivers(), (Names{"s"}));
}

TEST_F(Services, CommandsRunOnTheMainThreadOneAfterTheOther) {
  // While a command's handler runs (here: a nested message loop, like a modal
  // dialog), the next command waits in the listener.
  auto s = std::make_unique<TKestroneService>();
  std::vector<std::string> trace;
  bool inside = false;
  const DWORD mainThread = GetCurrentThreadId();
  s->SetCommand(2048);
  s->OnCommand = [&](const TMsg& m) {
    EXPECT_EQ(GetCurrentThreadId(), mainThread);
    EXPECT_FALSE(inside) << "a second command ran inside the first";
    inside = true;
    trace.push_back("begin " + std::to_string(m.lParam));
    PumpFor(300);
    trace.push_back("end " + std::to_string(m.lParam));
    inside = false;
  };
  s->SetKestroneAPI(&api);
  s->Loaded();
  PostThreadMessageA(api.Listener()->ThreadID(), 2048, 0, 1);
  PostThreadMessageA(api.Listener()->ThreadID(), 2048, 0, 2);
  ASSERT_TRUE(PumpUntil([&] { return trace.size() == 4; }));
  EXPECT_EQ(trace, (Names{"begin 1", "end 1", "begin 2", "end 2"}));
}

namespace {

// Presses OK on the first "Fehler" box of this process and keeps its text.
class ErrorBoxAnswerer {
 public:
  ErrorBoxAnswerer() {
    thread_ = std::thread([this] {
      for (int i = 0; i < 1000 && !stop_; ++i) {
        HWND box = FindWindowA("#32770", "Fehler");
        DWORD pid = 0;
        if (box) GetWindowThreadProcessId(box, &pid);
        if (box && pid == GetCurrentProcessId()) {
          char buf[512] = "";
          GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf);
          text_ = buf;
          PostMessageA(box, WM_COMMAND, IDOK, 0);
          answered_ = true;
          return;
        }
        Sleep(20);
      }
    });
  }
  ~ErrorBoxAnswerer() {
    stop_ = true;
    thread_.join();
  }
  bool Answered() const { return answered_; }
  // Written before answered_ is set, so it is complete once Answered() is true.
  std::string Text() const { return answered_ ? text_ : std::string(); }

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false}, answered_{false};
  std::string text_;
};

}  // namespace

TEST_F(Services, ErrorOfACommandHandlerIsShownAndTheListenerGoesOn) {
  int calls = 0;
  auto s = std::make_unique<TKestroneService>();
  s->SetCommand(2048);
  s->OnCommand = [&](const TMsg&) {
    if (++calls == 1) throw vk::ECmdFailed("Could not transmit command");
  };
  s->SetKestroneAPI(&api);
  s->Loaded();
  ErrorBoxAnswerer answerer;
  PostThreadMessageA(api.Listener()->ThreadID(), 2048, 0, 0);
  PostThreadMessageA(api.Listener()->ThreadID(), 2048, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
  EXPECT_TRUE(answerer.Answered());
  EXPECT_EQ(answerer.Text(), "Could not transmit command");
}

TEST_F(Services, CommandNumberChangeApliesToDispatchAtOnce) {
  CatchAll();
  auto a = Make("a", 2048);
  auto b = Make("b", 2049);
  b->SetCommand(2048);  // a is earlier in the list and keeps 2048
  HostPosts(2048);
  a->SetCommand(2051);
  HostPosts(2048);
  HostPosts(2049);
  EXPECT_EQ(Receivers(), (Names{"a", "b", "api"}));
}

TEST_F(Services, SettersWithoutConnectionSendNothingAndRaiseNothing) {
  auto s = Make("s", 2048);
  s->SetActive(false);
  s->SetActive(true);
  s->SetKestroneAPI(nullptr);
  EXPECT_EQ(s->ServiceID(), 0);
  EXPECT_THROW(api.UnregisterService(1), vk::ENotConnected);
  try {
    api.UnregisterService(1);
  } catch (const vk::ENotConnected& e) {
    EXPECT_STREQ(e.what(), "Not connected to Kestrone");
  }
  TServiceRecord r;
  try {
    api.TransmitService(r);
    FAIL() << "no error";
  } catch (const vk::ENotConnected& e) {
    EXPECT_STREQ(e.what(), "Not connected to Kestrone!");
  }
}

TEST_F(Services, ForgetsAConnectionThatIsDestroyed) {
  auto other = std::make_unique<TKestroneAPI>();
  TKestroneService s;
  s.SetKestroneAPI(other.get());  // not loaded yet: referred to, not attached
  TKestroneService t;
  t.Loaded();
  t.SetKestroneAPI(other.get());
  other.reset();
  EXPECT_EQ(s.KestroneAPI(), nullptr);
  EXPECT_EQ(t.KestroneAPI(), nullptr);
}

// ---------------------------------------------------------------------------
// With the stand-in host

class ConnectedServices : public Services {
 protected:
  void Connect(const std::string& hostArgs) {
    host = std::make_unique<KsHost>(hostArgs);
    api.Connect();
    ASSERT_TRUE(api.Connected());
  }
  void TearDown() override {
    api.Destroying();
    Services::TearDown();
  }
  std::vector<LogLine> Lines(const std::string& event, const std::string& word) const {
    std::vector<LogLine> found;
    for (const LogLine& l : host->Lines())
      if (l.Is(event, word)) found.push_back(l);
    return found;
  }
  std::unique_ptr<KsHost> host;
};

TEST_F(ConnectedServices, DeactivatingUnregistersAndActivatingRegistersAnew) {
  auto s = Make("s", 2048);
  Connect("--service-ids 10,20");
  ASSERT_EQ(s->ServiceID(), 10);

  s->SetActive(true);  // unchanged: nothing goes out
  s->SetActive(false);
  EXPECT_EQ(api.Services().Count(), 1);
  s->SetActive(false);
  s->SetActive(true);
  EXPECT_EQ(s->ServiceID(), 20);
  EXPECT_EQ(host->Received(), (std::vector<int>{1025, 1031, 1037, 1038, 1037}));
  const auto unregister = Lines("recv", "1038");
  ASSERT_EQ(unregister.size(), 1u);
  EXPECT_EQ(unregister[0].Hex("lparam"), 10u);
}

TEST_F(ConnectedServices, AttachingAndDetachingWhileConnectedRegistersAndUnregisters) {
  Connect("--service-ids 30,31");
  auto late = Make("late", 2050);  // attached and loaded after the connection is up
  EXPECT_EQ(late->ServiceID(), 30);
  auto inactive = Make("inactive", 2049, /*active=*/false);
  late->SetKestroneAPI(nullptr);
  inactive->SetKestroneAPI(nullptr);
  EXPECT_EQ(host->Received(), (std::vector<int>{1025, 1031, 1037, 1038}));
  EXPECT_EQ(Lines("recv", "1038")[0].Hex("lparam"), 30u);
}

TEST_F(ConnectedServices, ChangingTheCommandOfARegisteredServiceSendsNothing) {
  auto s = Make("s", 2048);
  Connect("");
  s->SetCommand(2060);
  PumpFor(200);
  EXPECT_EQ(host->Received(), (std::vector<int>{1025, 1031, 1037}));
}

TEST_F(ConnectedServices, UnknownServiceCodeRaisesAfterTheServiceLeftTheList) {
  auto s = Make("s", 2048);
  Connect("--unregister-code 0x80004001 --unregister-code 0 --unregister-code 5 --unregister-code 0");
  try {
    s->SetActive(false);
    FAIL() << "no error";
  } catch (const vk::EServiceUnknown& e) {
    EXPECT_STREQ(e.what(), "Unknown Service");
  }
  EXPECT_TRUE(s->Active());  // the setter stopped at the error
  EXPECT_EQ(api.Services().Count(), 0);

  s->SetKestroneAPI(nullptr);  // not in the list any more, but still active: unregisters
  s->SetKestroneAPI(&api);     // registers again
  try {
    s->SetKestroneAPI(nullptr);
    FAIL() << "no error";
  } catch (const vk::EUnknownAPIError& e) {
    EXPECT_STREQ(e.what(), "Unknown Error");
  }
  EXPECT_EQ(s->KestroneAPI(), &api);
  const int unregisters = host->Count("recv", "1038");
  s->SetActive(false);  // code 0 from now on: no error
  EXPECT_EQ(host->Count("recv", "1038"), unregisters + 1);
  EXPECT_FALSE(s->Active());
}

TEST_F(ConnectedServices, UnansweredUnregistrationIsSilent) {
  SetHostReplyTimeout(1500);  // waited for until it runs out
  auto s = Make("s", 2048);
  Connect("--no-reply 1038");
  EXPECT_NO_THROW(s->SetActive(false));
  EXPECT_FALSE(s->Active());
  EXPECT_EQ(host->Count("recv", "1038"), 1);
}

TEST_F(ConnectedServices, FailedRegistrationKeepsTheNewValueAndTheOldId) {
  auto s = Make("s", 2048);
  Connect("--service-ids 8");
  s->SetActive(false);
  TSharedMem taken(BlockName(kRegisterServicePrefix, GetCurrentThreadId()), 529);
  ASSERT_TRUE(taken.Created());
  EXPECT_THROW(s->SetActive(true), vk::ECmdFailed);
  EXPECT_TRUE(s->Active());
  EXPECT_EQ(s->ServiceID(), 8);
  EXPECT_EQ(api.Services().Count(), 1);
}

TEST_F(ConnectedServices, HostCommandsReachTheRegisteredService) {
  auto s = Make("s", 2048);
  auto t = Make("t", 2050);
  Connect("--service-ids 3,4 --after-register 2 100 command 2050");
  ASSERT_TRUE(PumpUntil([&] { return !got.empty(); }));
  EXPECT_EQ(Receivers(), (Names{"t"}));
  EXPECT_EQ(got[0].lParam, 4);
}
