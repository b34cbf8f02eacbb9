// What an engine call holds on to while it runs: the directory it started in, and an
// end with a report whatever fails inside it, never a hang or a crash.
#include "engine_test_util.h"

#include "engine_faults.h"

using namespace enginetest;

namespace {

class EngineCall : public EngineDirTest {
 protected:
  void TearDown() override {
    SetFault("VKZIP.DLL", kNoFault);
    SetFault("VKUNZIP.DLL", kNoFault);
    EngineDirTest::TearDown();
  }

  static void SetFault(const char* library, int32_t fault) { vk::testing::SetEngineFault(library, fault); }

  // Files a\f00.txt .. a\fNN.txt with distinct contents.
  std::vector<std::string> MakeFiles(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
      const std::string name = "a\\f" + std::to_string(100 + i) + ".txt";
      WriteBytes(name, Text(3000 + 37 * i, i + 1));
      names.push_back(name);
    }
    return names;
  }

  // Makes `elsewhere` the current directory at the first file the engine announces,
  // as a dialog opened during a callback would.
  void MoveAwayAtFirstFile(Recorder& r, const std::string& elsewhere) {
    CreateDirectoryA(elsewhere.c_str(), nullptr);
    r.stopAt = [elsewhere](const Event& e, const Recorder&) {
      if (e.action == kFileBegins) SetCurrentDirectoryA(elsewhere.c_str());
      return false;
    };
  }
};

TEST_F(EngineCall, ExtractionStaysInTheDirectoryItStartedIn) {
  const std::vector<std::string> names = MakeFiles(40);
  Recorder zipped;
  ASSERT_EQ(Zip("t.zip", names, zipped), 40) << zipped.AllMessages();
  RemoveTree(root_ + "\\a");

  Recorder r;
  MoveAwayAtFirstFile(r, root_ + "\\elsewhere");
  EXPECT_EQ(Unzip(root_ + "\\t.zip", {}, r), 40) << r.AllMessages();
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(ReadBytes(root_ + "\\" + names[i]), Text(3000 + 37 * i, i + 1)) << names[i];
  EXPECT_TRUE(Find(root_ + "\\elsewhere\\*").empty());
}

TEST_F(EngineCall, PackingStaysInTheDirectoryItStartedIn) {
  const std::vector<std::string> names = MakeFiles(40);
  Recorder r;
  MoveAwayAtFirstFile(r, root_ + "\\elsewhere");
  EXPECT_EQ(Zip("t.zip", names, r), 40) << r.AllMessages();
  EXPECT_TRUE(Find(root_ + "\\elsewhere\\*").empty());
  ReadBack archive(root_ + "\\t.zip");
  ASSERT_EQ(archive.Names().size(), 40u);
  EXPECT_EQ(archive.Data("a/f139.txt"), Text(3000 + 37 * 39, 40));
}

TEST_F(EngineCall, AWorkerThatThrowsEndsItsFileWithAReport) {
  const std::vector<std::string> names = MakeFiles(12);
  Recorder zipped;
  ASSERT_EQ(Zip("t.zip", names, zipped), 12);
  RemoveTree(root_ + "\\a");

  SetFault("VKUNZIP.DLL", kWorkerThrows);
  Recorder r;
  EXPECT_EQ(Unzip("t.zip", {}, r), 11);
  ASSERT_EQ(r.Messages().size(), 1u) << r.AllMessages();
  EXPECT_EQ(r.Messages()[0].code, kErrFileWrite);
  EXPECT_EQ(r.Count(kBatchEnd), 1);
  EXPECT_TRUE(Find("a\\~vk*").empty());

  const std::string before = ReadBytes("t.zip");
  SetFault("VKZIP.DLL", kWorkerThrows);
  Recorder packing;
  EXPECT_EQ(Zip("t.zip", names, packing), kResultFailed);
  EXPECT_NE(packing.AllMessages().find("interner Fehler"), std::string::npos) << packing.AllMessages();
  EXPECT_EQ(ReadBytes("t.zip"), before);
  EXPECT_TRUE(Find("*.vktmp").empty());
}

TEST_F(EngineCall, AThreadThatCannotStartEndsTheCallWithAReport) {
  const std::vector<std::string> names = MakeFiles(3);
  Recorder zipped;
  ASSERT_EQ(Zip("t.zip", names, zipped), 3);
  const std::string before = ReadBytes("t.zip");

  SetFault("VKZIP.DLL", kThreadStartFails);
  Recorder packing;
  EXPECT_EQ(Zip("t.zip", names, packing), kResultFailed);
  EXPECT_EQ(packing.Messages().size(), 1u) << packing.AllMessages();
  EXPECT_EQ(packing.Count(kBatchEnd), 1);
  EXPECT_EQ(ReadBytes("t.zip"), before);
  EXPECT_TRUE(Find("*.vktmp").empty());

  SetFault("VKUNZIP.DLL", kThreadStartFails);
  Recorder r;
  EXPECT_EQ(Unzip("t.zip", {}, r), kResultFailed);
  EXPECT_EQ(r.Messages().size(), 1u) << r.AllMessages();
  EXPECT_EQ(r.Count(kBatchEnd), 1);
}

using vk::testing::SystemText;

TEST_F(EngineCall, AFullDiskOrADamagedWriteKeepsThePreviousArchiveAndNamesTheCause) {
  std::vector<std::string> names = MakeFiles(12);
  // Beyond what the engine buffers: the first files are read back while it is written.
  WriteBytes("a\\big.bin", Random(3 << 20));
  names.push_back("a\\big.bin");
  Recorder first;
  ASSERT_EQ(Zip("t.zip", {names[0]}, first), 1);
  const std::string before = ReadBytes("t.zip");
  struct Case {
    TestFault fault;
    int32_t code;
    std::string cause;
  };
  const std::string written = "kann nicht geschrieben werden: " + SystemText(ERROR_DISK_FULL);
  for (const Case& c : {Case{kDiskFullInData, kErrArchiveWrite, written},
                        Case{kDiskFullInDirectory, kErrArchiveWrite, written},
                        Case{kDamagedWhenWritten, kErrVerify, "ersetzt das vorhandene nicht"},
                        Case{kDamagedWhileWritten, kErrVerify, "Eintrag \"a/f100.txt\""}}) {
    SetFault("VKZIP.DLL", c.fault);
    Recorder r;
    EXPECT_EQ(Zip("t.zip", names, r), kResultFailed) << c.fault;
    ASSERT_EQ(r.Messages().size(), 1u) << r.AllMessages();
    EXPECT_EQ(r.Messages()[0].code, c.code) << c.fault;
    EXPECT_NE(r.Messages()[0].text.find(c.cause), std::string::npos) << r.AllMessages();
    EXPECT_EQ(ReadBytes("t.zip"), before) << c.fault;
    EXPECT_EQ(Find("*.vk*"), std::vector<std::string>{}) << c.fault;
  }
}

TEST_F(EngineCall, AFileGoneBeforeItIsReadIsNamedAndTheRestIsPacked) {
  const std::vector<std::string> names = MakeFiles(12);
  SetFault("VKZIP.DLL", kSourceVanishes);
  Recorder r;
  EXPECT_EQ(Zip("t.zip", names, r), 11);
  ASSERT_EQ(r.Messages().size(), 1u) << r.AllMessages();
  EXPECT_EQ(r.Messages()[0].code, kErrFileRead);
  ReadBack archive(root_ + "\\t.zip");
  ASSERT_EQ(archive.Names().size(), 11u);
  // The one left out is the one the report names.
  for (const std::string& name : names) {
    const bool named = r.Messages()[0].text.find(name) != std::string::npos;
    std::string stored = name;
    stored[1] = '/';
    EXPECT_NE(archive.Find(stored) != nullptr, named) << name;
  }
  EXPECT_EQ(Find("*.vk*"), std::vector<std::string>{});
}

TEST_F(EngineCall, ACancelReachesTheEngineWhileALargeFileIsCompressed) {
  // The compression does not end until the call is stopped: the file is announced
  // and its steps come while it is held, and the third one stops the call.
  WriteBytes("small.txt", Text(5000));
  WriteBytes("large.txt", Text(3'000'000, 2));
  SetFault("VKZIP.DLL", kCompressionHeld);
  Recorder r;
  r.stopAt = [](const Event& e, const Recorder& rec) { return e.action == kProgressStep && rec.Count(kProgressStep) == 3; };
  EXPECT_EQ(Zip("t.zip", {"small.txt", "large.txt"}, r), kResultCancelled) << r.AllMessages();
  EXPECT_EQ(r.Files(), (std::vector<std::string>{"small.txt", "large.txt"}));
  EXPECT_EQ(r.events.back().action, kProgressStep);
  EXPECT_EQ(r.Count(kMessage), 0);
  EXPECT_EQ(ReadBack("t.zip.vkpart").Names(), std::vector<std::string>{"small.txt"});
  EXPECT_FALSE(Exists("t.zip"));
}

TEST_F(EngineCall, ACancelReachesTheEngineWhileItsFoldersAreStillRead) {
  // The listing does not go on until the call is stopped: steps come meanwhile, and
  // the second one stops the call before any file is announced.
  const std::vector<std::string> names = MakeFiles(3);
  SetFault("VKZIP.DLL", kListingHeld);
  Recorder r;
  r.stopAt = [](const Event& e, const Recorder& rec) { return e.action == kProgressStep && rec.Count(kProgressStep) == 2; };
  EXPECT_EQ(Zip("t.zip", names, r), kResultCancelled) << r.AllMessages();
  EXPECT_EQ(r.Files(), std::vector<std::string>{});
  EXPECT_EQ(r.Count(kMessage), 0);
  EXPECT_FALSE(Exists("t.zip"));
}

// A file its writer finishes during the call (the registry's export): the folders
// before it are packed meanwhile, and it is taken, once, as it is when the event is
// set; a folder listed before leaves it out. One not there then adds nothing, and a
// stop is heard while it is awaited.
class AwaitedFile : public EngineCall {
 protected:
  void SetUp() override {
    EngineCall::SetUp();
    MakeFiles(3);
    WriteBytes("a\\late.txt", "halb");
    written_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    CloseHandle(written_);
    EngineCall::TearDown();
  }
  int32_t Pack(Recorder& r) {
    const std::string event = std::to_string(reinterpret_cast<uintptr_t>(written_));
    return Zip("t.zip", {kFolderSpecMark + std::string("a"), kAwaitedSpecMark + event + kAwaitedSpecMark + "a\\late.txt"},
               r);
  }
  HANDLE written_ = nullptr;
};

TEST_F(AwaitedFile, IsTakenAfterTheFoldersAsItIsOnceWritten) {
  Recorder r;
  r.stopAt = [this](const Event& e, const Recorder& rec) {
    if (e.action == kFileBegins && rec.Count(kFileBegins) == 1) {
      WriteBytes("a\\late.txt", Text(5000, 9));
      SetEvent(written_);
    }
    return false;
  };
  ASSERT_EQ(Pack(r), 4) << r.AllMessages();
  EXPECT_EQ(r.Files(), (std::vector<std::string>{"a/f100.txt", "a/f101.txt", "a/f102.txt", "a/late.txt"}));
  ReadBack archive(root_ + "\\t.zip");
  EXPECT_EQ(archive.Names(), (std::vector<std::string>{"a/f100.txt", "a/f101.txt", "a/f102.txt", "a/late.txt"}));
  EXPECT_EQ(archive.Data("a/late.txt"), Text(5000, 9));
}

TEST_F(AwaitedFile, ThatIsNotThereAddsNothingAndAStopIsHeardWhileItIsAwaited) {
  DeleteFileA("a\\late.txt");
  SetEvent(written_);
  Recorder r;
  EXPECT_EQ(Pack(r), 3) << r.AllMessages();
  EXPECT_EQ(r.Count(kMessage), 0);

  // Never written within the test's time: set only after 30 s.
  DeleteFileA("t.zip");  // else added to, which waits for the whole list
  CloseHandle(written_);
  written_ = CreateWaitableTimerW(nullptr, TRUE, nullptr);
  LARGE_INTEGER due;
  due.QuadPart = -30LL * 10000000;
  SetWaitableTimer(written_, &due, 0, nullptr, nullptr, FALSE);
  Recorder stopped;
  int waiting = 0;
  stopped.stopAt = [&waiting](const Event& e, const Recorder& rec) {
    return e.action == kProgressStep && rec.Count(kFileBegins) == 3 && ++waiting == 3;
  };
  EXPECT_EQ(Pack(stopped), kResultCancelled) << stopped.AllMessages();
  EXPECT_EQ(stopped.Count(kFileBegins), 3);
  EXPECT_EQ(stopped.Count(kMessage), 0);
}

}  // namespace
