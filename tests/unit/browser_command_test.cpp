#include "core/browser_command.h"

#include <gtest/gtest.h>

namespace vk {
namespace {

TEST(BrowserCommand, PlaceholdersGoWithTheirCharacter) {
  EXPECT_EQ(RemovePlaceholders("browser.exe \"%1\""), "browser.exe \"\"");
  EXPECT_EQ(RemovePlaceholders("b.exe %%1"), "b.exe 1");
  EXPECT_EQ(RemovePlaceholders("b.exe %1 %L %*"), "b.exe   ");
  EXPECT_EQ(RemovePlaceholders("b.exe 100%"), "b.exe 100%");
  EXPECT_EQ(RemovePlaceholders("%%%"), "%");
  EXPECT_EQ(RemovePlaceholders(""), "");
}

TEST(BrowserCommand, SplitsAfterTheRightMostProgramExtension) {
  struct Case {
    const char* command;
    const char* program;
    const char* parameters;
  };
  const Case cases[] = {
      {"\"C:\\Program Files\\Browser\\browser.exe\" -nohome \"\"",
       "C:\\PROGRAM FILES\\BROWSER\\BROWSER.EXE", " -NOHOME \"\""},
      {"C:\\web\\view.exe", "C:\\WEB\\VIEW.EXE", ""},
      {"C:\\web\\view.exe   ", "C:\\WEB\\VIEW.EXE", ""},
      {"c:\\tools\\open.bat -x", "C:\\TOOLS\\OPEN.BAT", "-X"},
      {"C:\\exe.dir\\run.com /new", "C:\\EXE.DIR\\RUN.COM", "/NEW"},
      {"C:\\a.exe\\b.bat\\c.com", "C:\\A.EXE\\B.BAT\\C.COM", ""},
      {"C:\\a.com x.exe y", "C:\\A.COM X.EXE", "Y"},
      {"\"C:\\b.exe\"", "C:\\B.EXE", ""},
      {"C:\\b.exe \"\"-a", "C:\\B.EXE", "-A"},
      {".EXE", ".EXE", ""},
  };
  for (const Case& c : cases) {
    BrowserCommand split = SplitBrowserCommand(c.command);
    EXPECT_EQ(split.program, c.program) << c.command;
    EXPECT_EQ(split.parameters, c.parameters) << c.command;
  }
  for (const char* none : {"", "EXE", "browser", "C:\\web\\view.ex", "run.cmd %1"}) {
    BrowserCommand split = SplitBrowserCommand(none);
    EXPECT_EQ(split.program, "") << none;
    EXPECT_EQ(split.parameters, "") << none;
  }
}

}  // namespace
}  // namespace vk
