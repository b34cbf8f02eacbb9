// Not a test: a step of scripts/screenshot.sh. Runs a backup and a restore in the run
// windows and holds each in the middle of a long file until the photo is taken:
// "<name>.ready" is written to VAULTKIN_SHOT_DIR, "<name>.done" is waited for.
// Built on the run tests' fixture, which sets up a host installation to back up.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "../run_fixture.h"
#include "../test_setup.h"

using vk::testing::IsFile;
using vk::testing::Watcher;
using vk::testing::WriteBytes;

namespace {

class RunWindows : public vk::testing::RunFixture {
 protected:
  static void WaitForPhoto(const std::string& dir, const std::string& name) {
    WriteBytes(dir + "\\" + name + ".ready", "");
    for (int i = 0; i < 3000 && !IsFile(dir + "\\" + name + ".done"); ++i) {
      vk::win::App().ProcessMessages();
      Sleep(20);
    }
  }
};

TEST_F(RunWindows, Screenshots) {
  const char* dir = getenv("VAULTKIN_SHOT_DIR");
  ASSERT_TRUE(dir && *dir) << "VAULTKIN_SHOT_DIR is not set (scripts/screenshot.sh sets it)";
  const std::string longName = "Filebase\\Ein sehr langer Dateiname für die Anzeige im Pfad.txt";
  WriteBytes(HostFile(longName), vk::testing::Noise(200000, 9));
  // Each window is photographed in the middle of the long file, its bar part way.
  auto pauseIn = [&](vk::backup::TRunForm& form, const std::string& name) {
    auto original = form.ZipArchiver1.OnProgress;
    auto steps = std::make_shared<int>(0);
    form.ZipArchiver1.OnProgress = [&form, original, steps, dir, name, longName](
                                       vk::backup::ProgressType t, const std::string& file, int size) {
      original(t, file, size);
      if (t == vk::backup::ProgressType::ptFileStep &&
          form.PathLabel1.Caption().find("Ein sehr langer") != std::string::npos && ++*steps == 3)
        WaitForPhoto(dir, name);
    };
    return original;
  };
  auto task = MakeTask();
  auto packHandler = pauseIn(Pack(), "pack");
  EXPECT_TRUE(Pack().RunTask(*task));
  Pack().ZipArchiver1.OnProgress = packHandler;
  auto extractHandler = pauseIn(Extract(), "extract");
  Watcher w({{"Sicherung laden", IDOK, DefaultArchive()}, {"Information"}});
  Extract().RunRestore();
  EXPECT_TRUE(w.Done());
  Extract().ZipArchiver1.OnProgress = extractHandler;
}

}  // namespace

int main(int argc, char** argv) {
  vk::testsetup::StartLikeTheProgram();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
