// The host connection against the real stand-in host kshost.exe: the hand-shake and
// its outcomes, the info request, the host's departure and death, and destruction.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
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

constexpr DWORD kTestReplyBoundMs = 1500;

// Records every event of a connection, in order, by name.
struct EventLog {
  std::vector<std::string> names;
  void Attach(TKestroneAPI& api) {
    auto rec = [this](const char* name) { return [this, name](TKestroneAPI*) { names.push_back(name); }; };
    api.OnConnecting = rec("Connecting");
    api.OnConnected = rec("Connected");
    api.OnConnectFailed = rec("ConnectFailed");
    api.OnDisconnecting = rec("Disconnecting");
    api.OnDisconnected = rec("Disconnected");
    api.OnServerDisconnected = rec("ServerDisconnected");
    api.OnWrongVersion = rec("WrongVersion");
  }
};

using Names = std::vector<std::string>;

// The program's connection: the data module's values and its three services.
struct Plugin {
  TKestroneAPI api;
  TKestroneService sichern, konfig, info;
  EventLog events;

  Plugin() {
    api.SetAutoConnect(false);
    api.SetPIName("Vaultkin");
    api.SetPIDescription("Vaultkin Sicherungs-Plugin");
    api.SetPICopyright("Copyright \xA9 2024 Test Author");
    api.SetPIVersion(0);
    api.SetPIRevision(2);
    api.SetPIAPIRequiered(7);
    api.SetPIAPISupported(8);
    events.Attach(api);
    Setup(sichern, 2048, true, "Vaultkin: Aufgaben", "\xD6" "ffnet den Aufgaben-Dialog");
    Setup(konfig, 2049, false, "Vaultkin: Einstellungen", "Vaultkin kofigurieren");
    Setup(info, 2050, true, "Vaultkin: Info", "Vaultkin Informationen");
    api.Loaded();
    sichern.Loaded();
    konfig.Loaded();
    info.Loaded();
  }
  ~Plugin() { api.Destroying(); }  // as the owner does before destroying its components

  void Setup(TKestroneService& s, int32_t command, bool active, const char* title, const char* description) {
    s.SetCommand(command);
    s.SetActive(active);
    s.SetTitle(title);
    s.SetDescription(description);
    s.SetKestroneAPI(&api);
  }
};

// Exchanges that succeed wait as long as the program does, however busy the machine;
// a test that waits for the bound to run out shortens it first (ShortBound).
class HostConnection : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(KsHost::Window(), nullptr) << "a host window is left over from another test"; }
  void TearDown() override { SetHostReplyTimeout(0); }
  static void ShortBound() { SetHostReplyTimeout(kTestReplyBoundMs); }
};

std::vector<LogLine> Blocks(const KsHost& host, const std::string& prefix) {
  std::vector<LogLine> blocks;
  for (const LogLine& l : host.Lines())
    if (l.event == "block" && !l.words.empty() && l.words[0].rfind(prefix, 0) == 0) blocks.push_back(l);
  return blocks;
}

}  // namespace

TEST_F(HostConnection, SuccessGreetsTheHostAndRegistersTheActiveServicesInOrder) {
  KsHost host("--version 8 --service-ids 41,57");
  Plugin p;
  p.api.Connect();

  EXPECT_EQ(p.events.names, (Names{"Connecting", "Connected"}));
  EXPECT_TRUE(p.api.Connected());
  EXPECT_EQ(p.api.HostThreadID(), host.ThreadId());
  EXPECT_EQ(p.api.HostAPIVersion(), 8);
  EXPECT_EQ(p.sichern.ServiceID(), 41);
  EXPECT_EQ(p.konfig.ServiceID(), 0);
  EXPECT_EQ(p.info.ServiceID(), 57);

  EXPECT_EQ(host.Received(), (std::vector<int>{1025, 1031, 1037, 1037}));
  const LogLine connect = host.Lines()[static_cast<size_t>(host.Find("recv", "1025"))];
  EXPECT_EQ(connect.Hex("wparam"), p.api.Listener()->ThreadID());
  EXPECT_EQ(connect.Hex("lparam"), GetCurrentThreadId());

  const auto blocks = Blocks(host, kRegisterServicePrefix);
  ASSERT_EQ(blocks.size(), 2u);
  const std::string name = BlockName(kRegisterServicePrefix, GetCurrentThreadId());
  for (const LogLine& b : blocks) {
    EXPECT_EQ(b.words[0], name);
    EXPECT_EQ(b.Num("size"), 529);
    EXPECT_EQ(b.Num("last"), 0);
    EXPECT_EQ(b.Num("reserved"), 0);
    EXPECT_EQ(b.Hex("listener"), p.api.Listener()->ThreadID());
  }
  EXPECT_EQ(blocks[0].Get("title"), "Vaultkin: Aufgaben");
  EXPECT_EQ(blocks[0].Get("description"), "\xD6" "ffnet den Aufgaben-Dialog");
  EXPECT_EQ(blocks[0].Num("command"), 2048);
  EXPECT_EQ(blocks[1].Get("title"), "Vaultkin: Info");
  EXPECT_EQ(blocks[1].Num("command"), 2050);

  // The blocks were released right after each reply.
  TSharedMem again(name, 529);
  EXPECT_TRUE(again.Created());

  // Connecting again while connected does nothing.
  p.events.names.clear();
  p.api.Connect();
  EXPECT_TRUE(p.events.names.empty());
  EXPECT_EQ(host.Count("recv", "1025"), 1);
}

TEST_F(HostConnection, VersionBelowTheRequiredOneIsRefusedAndEqualOrHigherAccepted) {
  struct Case {
    int version;
    Names events;
    std::vector<int> received;
  };
  const Case cases[] = {
      {6, {"Connecting", "Disconnecting", "Disconnected", "WrongVersion", "ConnectFailed"}, {1025, 1031, 1029}},
      {-1, {"Connecting", "Disconnecting", "Disconnected", "WrongVersion", "ConnectFailed"}, {1025, 1031, 1029}},
      {7, {"Connecting", "Connected"}, {1025, 1031, 1037, 1037}},
      {9, {"Connecting", "Connected"}, {1025, 1031, 1037, 1037}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("host version " + std::to_string(c.version));
    KsHost host("--version " + std::to_string(c.version));
    {
      Plugin p;
      p.api.Connect();
      EXPECT_EQ(p.events.names, c.events);
      EXPECT_EQ(p.api.Connected(), c.events.back() == "Connected");
      EXPECT_EQ(p.api.HostAPIVersion(), c.version);
      if (!p.api.Connected()) {
        EXPECT_TRUE(host.WaitFor("recv", "1029"));
      }
      EXPECT_EQ(host.Received(), c.received);
    }
  }
}

TEST_F(HostConnection, NoHostWindowFailsWithoutSendingAnything) {
  Plugin p;
  p.api.Connect();
  EXPECT_EQ(p.events.names, (Names{"Connecting", "ConnectFailed"}));
  EXPECT_FALSE(p.api.Connected());
}

TEST_F(HostConnection, RefusedConnectFailsAfterTheGreetingOnly) {
  KsHost host("--refuse");
  Plugin p;
  p.api.Connect();
  EXPECT_EQ(p.events.names, (Names{"Connecting", "ConnectFailed"}));
  EXPECT_FALSE(p.api.Connected());
  EXPECT_EQ(p.api.HostThreadID(), 0u);
  PumpFor(300);
  EXPECT_EQ(host.Received(), (std::vector<int>{1025}));
}

TEST_F(HostConnection, UnansweredVersionQueryTakesTheConnectionDownAgain) {
  ShortBound();
  KsHost host("--no-reply 1031");
  Plugin p;
  p.api.Connect();
  EXPECT_EQ(p.events.names, (Names{"Connecting", "Disconnecting", "Disconnected", "ConnectFailed"}));
  EXPECT_FALSE(p.api.Connected());
  ASSERT_TRUE(host.WaitFor("recv", "1029"));
  EXPECT_EQ(host.Received(), (std::vector<int>{1025, 1031, 1029}));
}

TEST_F(HostConnection, HungHostWindowIsGivenUpAfterTheBound) {
  ShortBound();
  KsHost host("--hang-connect 6000");
  Plugin p;
  p.api.Connect();
  EXPECT_EQ(p.events.names, (Names{"Connecting", "ConnectFailed"}));
  EXPECT_FALSE(p.api.Connected());
}

TEST_F(HostConnection, LateVersionAnswerCountsAsFailedAndIsNotTakenLater) {
  ShortBound();
  KsHost host("--reply-delay 1031 2500");
  Plugin p;
  p.api.Connect();
  EXPECT_EQ(p.events.names, (Names{"Connecting", "Disconnecting", "Disconnected", "ConnectFailed"}));
  // Let the late answer (version 8) land in this thread's queue, without taking it.
  Sleep(2000);
  ASSERT_GE(host.Find("reply", "1031"), 0);
  p.events.names.clear();
  p.api.Connect();
  // The next answer is late again: the stale one must not make this a success.
  EXPECT_EQ(p.events.names, (Names{"Connecting", "Disconnecting", "Disconnected", "ConnectFailed"}));
}

TEST_F(HostConnection, UnansweredRegistrationRaisesAndLeavesTheConnectionUp) {
  ShortBound();
  KsHost host("--no-reply 1037");
  Plugin p;
  try {
    p.api.Connect();
    FAIL() << "no error";
  } catch (const vk::ECmdFailed& e) {
    EXPECT_STREQ(e.what(), "Could not transmit command");
  }
  EXPECT_EQ(p.events.names, (Names{"Connecting"}));
  EXPECT_TRUE(p.api.Connected());
  EXPECT_EQ(host.Received(), (std::vector<int>{1025, 1031, 1037}));
}

TEST_F(HostConnection, RegistrationBlockNameInUseIsNotWrittenAndRaises) {
  KsHost host;
  const std::string name = BlockName(kRegisterServicePrefix, GetCurrentThreadId());
  TSharedMem foreign(name, 529);
  ASSERT_TRUE(foreign.Created());
  std::memset(foreign.Buffer(), 0x5A, 529);
  Plugin p;
  EXPECT_THROW(p.api.Connect(), vk::ECmdFailed);
  EXPECT_EQ(p.events.names, (Names{"Connecting"}));
  for (int i = 0; i < 529; ++i) ASSERT_EQ(foreign.Buffer()[i], 0x5A) << "byte " << i;
  PumpFor(300);
  EXPECT_EQ(host.Received(), (std::vector<int>{1025, 1031}));
}

TEST_F(HostConnection, InfoRequestIsAnsweredWithTheSelfDescriptionAndReleased) {
  KsHost host;
  Plugin p;
  p.api.Connect();
  ASSERT_TRUE(p.api.Connected());
  ASSERT_TRUE(host.Do("info"));
  ASSERT_TRUE(host.WaitForCount("probe", "", 2));

  const auto blocks = Blocks(host, kPluginInfoPrefix);
  ASSERT_EQ(blocks.size(), 1u);
  const LogLine& b = blocks[0];
  EXPECT_EQ(b.words[0], BlockName(kPluginInfoPrefix, p.api.Listener()->ThreadID()));
  EXPECT_EQ(b.Get("name"), "Vaultkin");
  EXPECT_EQ(b.Get("copyright"), "Copyright \xA9 2024 Test Author");
  EXPECT_EQ(b.Get("description"), "Vaultkin Sicherungs-Plugin");
  EXPECT_EQ(b.Num("version"), 0);
  EXPECT_EQ(b.Num("revision"), 2);
  EXPECT_EQ(b.Num("required"), 7);
  EXPECT_EQ(b.Num("supported"), 8);
  EXPECT_GE(b.Num("section"), 784);

  // Held while the host reads, released once its 1027 has come.
  const auto lines = host.Lines();
  const LogLine& before = lines[static_cast<size_t>(host.Find("probe"))];
  const LogLine& after = lines[static_cast<size_t>(host.Find("probe", "", host.Find("probe") + 1))];
  EXPECT_EQ(before.Get("when"), "before-reply");
  EXPECT_EQ(before.Num("exists"), 1);
  EXPECT_EQ(after.Get("when"), "after-reply");
  EXPECT_EQ(after.Num("exists"), 0);
}

TEST_F(HostConnection, InfoRequestIsUnansweredWhileTheBlockNameIsInUse) {
  KsHost host;
  Plugin p;
  p.api.Connect();
  ASSERT_TRUE(p.api.Connected());
  auto foreign = std::make_unique<TSharedMem>(
      BlockName(kPluginInfoPrefix, p.api.Listener()->ThreadID()), 784);
  ASSERT_TRUE(foreign->Created());
  std::memset(foreign->Buffer(), 0x5A, 784);
  ASSERT_TRUE(host.Do("info"));
  PumpFor(800);
  EXPECT_EQ(host.Count("recv", "1027"), 0);
  EXPECT_EQ(foreign->Buffer()[0], 0x5A);
  EXPECT_EQ(foreign->Buffer()[783], 0x5A);

  // The listener goes on: once the name is free the next request is answered.
  foreign.reset();
  ASSERT_TRUE(host.Do("info"));
  ASSERT_TRUE(host.WaitFor("reply", "1027"));
  EXPECT_EQ(host.Count("recv", "1027"), 1);
  EXPECT_EQ(Blocks(host, kPluginInfoPrefix).size(), 1u);
}

TEST_F(HostConnection, ListenerGoesOnWhenTheHostNeverConfirmsTheInfoBlock) {
  ShortBound();
  KsHost host("--no-reply 1027");
  Plugin p;
  int commands = 0;
  p.sichern.OnCommand = [&](const TMsg&) { ++commands; };
  p.api.Connect();
  ASSERT_TRUE(p.api.Connected());
  ASSERT_TRUE(host.Do("info"));
  ASSERT_TRUE(host.Do("command 2048"));
  // The command waits behind the unconfirmed info exchange, then is delivered.
  EXPECT_TRUE(PumpUntil([&] { return commands == 1; }, kTestReplyBoundMs + 5000));
}

TEST_F(HostConnection, HostDepartureIsReportedOnceAndOnlyWhileConnected) {
  KsHost host;
  Plugin p;
  p.api.Connect();
  ASSERT_TRUE(p.api.Connected());
  p.events.names.clear();
  ASSERT_TRUE(host.Do("depart"));
  ASSERT_TRUE(PumpUntil([&] { return !p.events.names.empty(); }));
  EXPECT_EQ(p.events.names, (Names{"ServerDisconnected"}));
  EXPECT_FALSE(p.api.Connected());

  // A second 1029 and the host's later end change nothing.
  host.Do("post 1029");
  host.Do("quit");
  ASSERT_TRUE(host.WaitForEnd(5000));
  PumpFor(300);
  EXPECT_EQ(p.events.names, (Names{"ServerDisconnected"}));
  // Nothing went back to the host: no goodbye to a host that said goodbye.
  EXPECT_EQ(host.Count("recv", "1029"), 0);
}

TEST_F(HostConnection, HostThatDiesWithoutGoodbyeCountsAsDeparted) {
  for (const char* end : {"kill", "quit"}) {
    SCOPED_TRACE(end);
    KsHost host;
    Plugin p;
    p.api.Connect();
    ASSERT_TRUE(p.api.Connected());
    p.events.names.clear();
    host.Do(end);
    ASSERT_TRUE(host.WaitForEnd(5000));
    ASSERT_TRUE(PumpUntil([&] { return !p.events.names.empty(); }));
    EXPECT_EQ(p.events.names, (Names{"ServerDisconnected"}));
    EXPECT_FALSE(p.api.Connected());
  }
}

TEST_F(HostConnection, DisconnectTellsTheHostAndFiresBothEvents) {
  KsHost host;
  Plugin p;
  p.api.Connect();
  p.events.names.clear();
  p.api.Disconnect();
  EXPECT_EQ(p.events.names, (Names{"Disconnecting", "Disconnected"}));
  EXPECT_FALSE(p.api.Connected());
  p.api.Disconnect();
  EXPECT_EQ(p.events.names.size(), 2u);
  ASSERT_TRUE(host.WaitFor("recv", "1029"));
  PumpFor(200);
  EXPECT_EQ(host.Count("recv", "1029"), 1);
  EXPECT_EQ(host.Count("recv", "1038"), 0);
}

TEST_F(HostConnection, ReconnectRegistersAgainWithNewIds) {
  KsHost host("--service-ids 1,2,3,4");
  Plugin p;
  p.api.Connect();
  p.api.Disconnect();
  p.events.names.clear();
  p.api.Connect();
  EXPECT_EQ(p.events.names, (Names{"Connecting", "Connected"}));
  EXPECT_EQ(p.sichern.ServiceID(), 3);
  EXPECT_EQ(p.info.ServiceID(), 4);
}

TEST_F(HostConnection, DestructionSaysGoodbyeFiresNothingAndEndsTheListener) {
  KsHost host;
  DWORD listenerId = 0;
  Names events;
  {
    Plugin p;
    p.api.Connect();
    ASSERT_TRUE(p.api.Connected());
    listenerId = p.api.Listener()->ThreadID();
    p.events.names.clear();
    p.api.OnDisconnecting = [&](TKestroneAPI*) { events.push_back("Disconnecting"); };
    p.api.OnDisconnected = [&](TKestroneAPI*) { events.push_back("Disconnected"); };
  }
  EXPECT_TRUE(events.empty());
  HANDLE listener = OpenThread(SYNCHRONIZE, FALSE, listenerId);
  if (listener) {
    EXPECT_EQ(WaitForSingleObject(listener, 0), WAIT_OBJECT_0);
    CloseHandle(listener);
  }
  ASSERT_TRUE(host.WaitFor("recv", "1029"));
  PumpFor(300);
  EXPECT_EQ(host.Received(), (std::vector<int>{1025, 1031, 1037, 1037, 1029}));
}

TEST_F(HostConnection, DestructionWhileTheListenerWaitsForTheMainThreadEnds) {
  // A command handed over right before destruction must neither run nor hang it.
  KsHost host;
  int commands = 0;
  {
    Plugin p;
    p.sichern.OnCommand = [&](const TMsg&) { ++commands; };
    p.api.Connect();
    PostThreadMessageA(p.api.Listener()->ThreadID(), 2048, 0, 0);
    Sleep(200);  // the listener is now blocked handing the command to this thread
  }
  EXPECT_EQ(commands, 0);
}

TEST_F(HostConnection, ListenerThatIsNotReadyInTimeLeavesNoWayToConnect) {
  KsHost host;
  TPluginAPI::SetStartDelayForTesting(1600);
  auto api = std::make_unique<TKestroneAPI>();
  TPluginAPI::SetStartDelayForTesting(0);
  EXPECT_EQ(api->Listener(), nullptr);
  EventLog events;
  events.Attach(*api);
  api->Connect();
  EXPECT_EQ(events.names, (Names{"Connecting", "ConnectFailed"}));
  api.reset();
  PumpFor(1000);  // the discarded thread comes up late and ends by itself
  EXPECT_EQ(host.Count("recv"), 0);
}
