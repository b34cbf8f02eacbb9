#include "widgets/web_link.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/info_form.h"
#include "res/version.h"
#include "tasks_test_util.h"

namespace vk::widgets {
namespace {

using tasktest::TempDir;

constexpr const char* kExtensions[] = {".HTM", ".HTML", ".SHTML", ".SHTM"};
constexpr char kSavedAside[] = "Software\\VaultkinWebLinkTest";
constexpr char kType[] = "VaultkinTest.Page";

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

// HTML associations of the test's own under HKEY_CLASSES_ROOT. Whatever the prefix had
// registered for the four extensions is set aside meanwhile and put back at the end.
class Associations {
 public:
  Associations() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kSavedAside);
    for (const char* ext : kExtensions) {
      HKEY key;
      if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ext, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
      HKEY aside;
      RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(kSavedAside) + "\\" + ext).c_str(), 0,
                      nullptr, 0, KEY_ALL_ACCESS, nullptr, &aside, nullptr);
      RegCopyTreeA(key, nullptr, aside);
      RegCloseKey(aside);
      RegCloseKey(key);
      RegDeleteTreeA(HKEY_CLASSES_ROOT, ext);
      saved_.push_back(ext);
    }
    Clear();
  }
  ~Associations() {
    Clear();
    for (const std::string& ext : saved_) {
      HKEY aside, key;
      RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(kSavedAside) + "\\" + ext).c_str(), 0,
                    KEY_READ, &aside);
      RegCreateKeyExA(HKEY_CLASSES_ROOT, ext.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr);
      RegCopyTreeA(aside, nullptr, key);
      RegCloseKey(key);
      RegCloseKey(aside);
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, kSavedAside);
  }
  Associations(const Associations&) = delete;
  Associations& operator=(const Associations&) = delete;

  // The default value of HKEY_CLASSES_ROOT\<path>, created with its key.
  void Set(const std::string& path, const std::string& value) {
    RegSetKeyValueA(HKEY_CLASSES_ROOT, path.c_str(), nullptr, REG_SZ, value.c_str(),
                    static_cast<DWORD>(value.size() + 1));
  }
  void Clear() {
    for (const char* ext : kExtensions) RegDeleteTreeA(HKEY_CLASSES_ROOT, ext);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kType);
  }

 private:
  std::vector<std::string> saved_;
};

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The stand-in browser copied into a scratch folder under the names the cases need,
// and the file in which it notes its command line.
class Browsers {
 public:
  Browsers() : dir_("weblink") {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string bin = self;
    bin.resize(bin.find_last_of('\\'));
    exe_ = dir_ / "browser.exe";
    CopyFileA((bin + "\\stand_in_browser.exe").c_str(), exe_.c_str(), FALSE);
    CopyFileA(exe_.c_str(), Com().c_str(), FALSE);
    tasktest::WriteBytes(Bat(), "@\"" + exe_ + "\" %*\r\n");
    SetEnvironmentVariableA("VAULTKIN_BROWSER_LOG", Log().c_str());
  }
  ~Browsers() { SetEnvironmentVariableA("VAULTKIN_BROWSER_LOG", nullptr); }
  const std::string& Exe() const { return exe_; }
  std::string Com() const { return dir_ / "web.com"; }
  std::string Bat() const { return dir_ / "start.bat"; }
  std::string Log() const { return dir_ / "started.txt"; }

  // Opens the link and returns the command line of the browser started with this
  // ending, or the last other one seen (empty when none came). A browser of an
  // earlier step that writes late is passed over rather than taken for the one
  // awaited. Under Wine a program started now and then never runs (about one start
  // in a hundred here): after 10 s the link is used again, as a user would click
  // again, three times at most.
  std::string Started(const std::function<bool()>& open, const std::string& ending) const {
    std::string line;
    for (int attempt = 0; attempt < 3; ++attempt) {
      EXPECT_TRUE(open());
      for (int i = 0; i < 1000; ++i) {
        if (tasktest::IsFile(Log())) {
          line = tasktest::ReadBytes(Log());
          DeleteFileA(Log().c_str());
          if (EndsWith(line, ending)) return line;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    return line;
  }

 private:
  TempDir dir_;
  std::string exe_;
};

TEST(WebLink, NothingRegisteredStartsNothing) {
  Associations assoc;
  Browsers browsers;
  TWebLink link;
  EXPECT_FALSE(link.Url.empty());
  EXPECT_FALSE(link.EMail.empty());
  EXPECT_EQ(TWebLink::ReadBrowserCommand(), "");
  EXPECT_EQ(TWebLink::FindBrowser().program, "");
  EXPECT_FALSE(link.OpenUrl());
  // A type name whose type has no command, and a command of no program: still nothing.
  assoc.Set(".HTM", kType);
  assoc.Set(".HTML", "");
  assoc.Set(".HTML\\shell\\open\\command", "browser %1");
  EXPECT_EQ(TWebLink::ReadBrowserCommand(), "browser ");
  EXPECT_FALSE(link.OpenUrl());
  EXPECT_FALSE(tasktest::IsFile(browsers.Log()));
}

TEST(WebLink, OnlyShtmRegisteredWithParametersAndPlaceholders) {
  Associations assoc;
  Browsers browsers;
  assoc.Set(".SHTM", kType);
  assoc.Set(std::string(kType) + "\\shell\\open\\command", "\"" + browsers.Exe() + "\" -nohome \"%1\"");
  EXPECT_EQ(TWebLink::ReadBrowserCommand(), "\"" + browsers.Exe() + "\" -nohome \"\"");
  TWebLink::Browser found = TWebLink::FindBrowser();
  EXPECT_EQ(found.program, Upper(browsers.Exe()));
  EXPECT_EQ(found.parameters, " -NOHOME \"\"");
  TWebLink link;
  const auto open = [&link] { return link.OpenUrl(); };
  link.Url = "http://example.org/seite";
  const std::string tail = " http://example.org/seite  -NOHOME \"\"";
  EXPECT_TRUE(EndsWith(browsers.Started(open, tail), tail));
}

TEST(WebLink, FirstExtensionWinsAndTheExtensionsOwnCommandStandsIn) {
  Associations assoc;
  Browsers browsers;
  TWebLink link;
  const auto open = [&link] { return link.OpenUrl(); };
  link.Url = "http://a.example/";
  // ".HTM" names a type without a command; its own key has one: that one is used,
  // before the ".SHTM" association.
  assoc.Set(".SHTM", "");
  assoc.Set(".SHTM\\shell\\open\\command", browsers.Com() + " -shtm");
  assoc.Set(".HTM", kType);
  assoc.Set(".HTM\\shell\\open\\command", browsers.Exe());
  EXPECT_EQ(TWebLink::FindBrowser().parameters, "");
  EXPECT_TRUE(EndsWith(browsers.Started(open, " http://a.example/ "), " http://a.example/ "))
      << "address and one blank";
  // A command longer than the buffer is passed over, not cut.
  assoc.Set(".HTM\\shell\\open\\command", browsers.Exe() + std::string(1100, 'x'));
  EXPECT_EQ(TWebLink::FindBrowser().program, Upper(browsers.Com()));
}

TEST(WebLink, BatchAndComPrograms) {
  Associations assoc;
  Browsers browsers;
  TWebLink link;
  const auto open = [&link] { return link.OpenUrl(); };
  link.Url = "http://b.example/";
  assoc.Set(".HTML", "");
  assoc.Set(".HTML\\shell\\open\\command", browsers.Bat() + " %1 -new");
  EXPECT_EQ(TWebLink::FindBrowser().program, Upper(browsers.Bat()));
  std::string started = browsers.Started(open, "-NEW");
  EXPECT_NE(started.find("http://b.example/"), std::string::npos) << started;
  EXPECT_TRUE(EndsWith(started, "-NEW")) << started;
  assoc.Set(".HTML\\shell\\open\\command", browsers.Com() + " /x");
  started = browsers.Started(open, " http://b.example/ /X");
  EXPECT_TRUE(EndsWith(started, " http://b.example/ /X")) << started;
}

TEST(WebLink, InfoWindowLinkOpensItsAddress) {
  Associations assoc;
  Browsers browsers;
  assoc.Set(".HTM", kType);
  assoc.Set(std::string(kType) + "\\shell\\open\\command", browsers.Exe() + " %1");
  app::TInfoForm info;
  EXPECT_EQ(info.WebLink1.Url, VK_WEB_ADDRESS);
  EXPECT_EQ(info.WebLink1.EMail, VK_MAIL_ADDRESS);
  const auto click = [&] {
    SendMessageA(info.Handle(), WM_COMMAND, MAKEWPARAM(app::TInfoForm::kLink, STN_CLICKED),
                 reinterpret_cast<LPARAM>(info.Item(app::TInfoForm::kLink)));
    return true;
  };
  const std::string started = browsers.Started(click, " " VK_WEB_ADDRESS " ");
  EXPECT_TRUE(EndsWith(started, " " VK_WEB_ADDRESS " ")) << started;
}

}  // namespace
}  // namespace vk::widgets
