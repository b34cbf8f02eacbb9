#include "core/set_text.h"

#include <gtest/gtest.h>

#include <string>

#include "core/comma_list.h"
#include "core/errors.h"

namespace vk {
namespace {

const char kDefaultTaskText[] =
    "Name=,Active=1,\"InclDirs=.,.\\Filebase,.\\Inbound,.\\MsgBase\",UseDefZipName=0,"
    "DefZipName=C:\\Kestrone\\Backup\\KestroneBackup.zip,AutoMode=1,AutoDays=7,LastBackup=0,"
    "SaveRegistry=1,SaveFiles=1";

SetFields Load(const std::string& text, char sep = '.') {
  return LoadSetText(text, sep, [] { return DefaultZipName("C:\\Kestrone"); });
}

std::string Save(SetFields f, char sep = '.') { return SaveSetText(f, sep); }

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string ConvertMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "no error";
}

TEST(SetText, DefaultTaskByteForByte) {
  EXPECT_EQ(Save(Load("")), kDefaultTaskText);
  EXPECT_EQ(Save(Load(kDefaultTaskText)), kDefaultTaskText);
  // Present but empty is the same as missing, for every key.
  EXPECT_EQ(Save(Load("Name=,Active=,InclDirs=,UseDefZipName=,DefZipName=,AutoMode=,"
                      "AutoDays=,LastBackup=,SaveRegistry=,SaveFiles=")),
            kDefaultTaskText);
  // A file with only a name gets all ten entries back.
  EXPECT_EQ(Save(Load("\"Name=Nur ein Name\"")),
            "\"Name=Nur ein Name\"" + std::string(kDefaultTaskText).substr(5));
}

TEST(SetText, GenerationsAreWrittenOnlyWhenNotOne) {
  EXPECT_EQ(Load(kDefaultTaskText).Generations, 1);
  EXPECT_EQ(Save(Load(std::string(kDefaultTaskText) + ",Generations=1")), kDefaultTaskText);
  SetFields f = Load(kDefaultTaskText);
  f.Generations = 3;
  const std::string text = Save(f);
  EXPECT_EQ(text, std::string(kDefaultTaskText) + ",Generations=3");
  EXPECT_EQ(Load(text).Generations, 3);
  EXPECT_EQ(Load("generations=0").Generations, 0);  // kept as read; the run counts it as 1
  EXPECT_EQ(ConvertMessage([] { Load("Generations=drei"); }), "'drei' ist kein gültiger Integerwert");
}

TEST(SetText, EveryFieldRoundTrips) {
  SetFields f;
  f.Name = "Wöchentlich \"alles\", bitte";
  f.Active = false;
  f.InclDirs = WriteCommaList({".", ".\\Mit Blank", ".\\Quote\"d"});
  f.UseDefZipName = true;
  f.DefZipName = "D:\\Sicherung mit Blank\\k,1.zip";
  f.AutoMode = 2;
  f.AutoDays = -3;
  f.LastBackup = 45000.123456789;
  f.SaveRegistry = false;
  f.SaveFiles = false;
  for (char sep : {'.', ','}) {
    const std::string text = Save(f, sep);
    const SetFields g = Load(text, sep);
    EXPECT_EQ(g.Name, f.Name);
    EXPECT_EQ(ReadCommaList(g.InclDirs), (StringList{".", ".\\Mit Blank", ".\\Quote\"d"}));
    EXPECT_EQ(g.DefZipName, f.DefZipName);
    EXPECT_EQ(g.AutoDays, -3);
    EXPECT_DOUBLE_EQ(g.LastBackup, f.LastBackup);
    EXPECT_EQ(Save(g, sep), text);  // and with it every Boolean and number
  }
}

TEST(SetText, LastBackupUnderADecimalComma) {
  LocalTime t;
  t.year = 1998, t.month = 6, t.day = 21, t.hour = 14, t.minute = 37, t.second = 12;
  SetFields f;
  f.LastBackup = EncodeDateTime(t);
  const std::string comma = Save(f, ',');
  EXPECT_TRUE(Contains(comma, ",\"LastBackup=35967,6091666667\",")) << comma;
  EXPECT_TRUE(Contains(Save(f, '.'), ",LastBackup=35967.6091666667,"));
  EXPECT_NEAR(Load(comma, ',').LastBackup, f.LastBackup, 1e-9);
  // The regional setting changed between writing and reading: either mark reads.
  EXPECT_NEAR(Load(comma, '.').LastBackup, f.LastBackup, 1e-9);
  EXPECT_NEAR(Load(Save(f, '.'), ',').LastBackup, f.LastBackup, 1e-9);
}

TEST(SetText, WhatIsWrittenReadsBack) {
  for (double v : {1.7976931348623157e308, -1.7976931348623157e308, 1.797693134862315e308,
                   4.9406564584124654e-324, 2.2250738585072014e-308, -45000.5}) {
    SetFields f;
    f.DefZipName = "x.zip";
    f.LastBackup = v;
    const std::string once = Save(f, ',');
    const std::string twice = Save(Load(once, ','), ',');
    EXPECT_EQ(once, twice);
    EXPECT_EQ(Save(Load(twice, '.'), '.'), Save(f, '.'));
  }
  // Found by fuzzing: a DefZipName of bare quotes was saved empty and became the
  // default only on the next start.
  EXPECT_EQ(Load("DefZipName=\"\"").DefZipName, "C:\\Kestrone\\Backup\\KestroneBackup.zip");
  // ... and one in nested quotes lost a pair on every save.
  const std::string nested = Save(Load("DefZipName=\"\"e=\"\""));
  EXPECT_EQ(Save(Load(nested)), nested);
  EXPECT_EQ(Load("LastBackup=1.7976931348623157e308").LastBackup, 1.7976931348623157e308);
  EXPECT_EQ(Load("LastBackup=-1.79769313486232E308").LastBackup, -1.7976931348623157e308);
  // Beyond what the writer produces it stays an overflow.
  EXPECT_EQ(ConvertMessage([] { Load("LastBackup=1.79769313486233E308"); }),
            "'1.79769313486233E308' ist kein gültiger Fließkommawert");
}

// The largest doubles are written rounded up beyond the largest double; any spelling
// of up to that value reads back as the largest double, on every C++ runtime.
TEST(TextToNumber, LargestWrittenInAnySpelling) {
  constexpr double kMax = 1.7976931348623157e308;
  for (const char* text : {"1.79769313486232E308", "1,79769313486232e+308", "+1.79769313486232E308",
                           "179769313486232E294", "0.000179769313486232E312",
                           "1797693134862320000000000e284", "1.7976931348623158E308"})
    EXPECT_EQ(TextToFloat(text, ','), kMax) << text;
  EXPECT_EQ(TextToFloat("-1.79769313486232E308", '.'), -kMax);
  for (const char* bad : {"1.797693134862320001E308", "1.8E308", "1E309", "-1E400",
                          "1E99999999999999999999", "1E-400"})
    EXPECT_EQ(ConvertMessage([&] { TextToFloat(bad, '.'); }),
              std::string("'") + bad + "' ist kein gültiger Fließkommawert");
}

TEST(SetText, BooleansUseTheLowEightBits) {
  EXPECT_TRUE(Load("Active=2").Active);
  EXPECT_FALSE(Load("Active=256").Active);
  EXPECT_TRUE(Load("Active=-1").Active);
  EXPECT_FALSE(Load("SaveFiles=512").SaveFiles);
  EXPECT_TRUE(Contains(Save(Load("Active=2")), ",Active=1,"));
  EXPECT_TRUE(Contains(Save(Load("Active=256")), ",Active=0,"));
  EXPECT_EQ(ConvertMessage([] { Load("Active=ja"); }), "'ja' ist kein gültiger Integerwert");
}

TEST(SetText, KeysInAnyCaseAndOrderFirstOneWins) {
  const SetFields f = Load("autodays=3,AUTOMODE=2,AutoDays=9,name=x,bogus=1,NAME=y");
  EXPECT_EQ(f.AutoDays, 3);
  EXPECT_EQ(f.AutoMode, 2);
  EXPECT_EQ(f.Name, "x");
  EXPECT_EQ(Load("AutoDays=4,AutoDays=vier").AutoDays, 4);  // the second is never read
  EXPECT_EQ(Load("AutoMode=17").AutoMode, 17);              // unknown modes are kept
}

TEST(SetText, DefZipName) {
  // Stored in quotes: written back without them, and the field loses them too.
  SetFields f = Load("DefZipName=\"C:\\Sich\\a.zip\"");
  EXPECT_EQ(f.DefZipName, "\"C:\\Sich\\a.zip\"");
  EXPECT_TRUE(Contains(SaveSetText(f, '.'), ",DefZipName=C:\\Sich\\a.zip,"));
  EXPECT_EQ(f.DefZipName, "C:\\Sich\\a.zip");

  // Cleared: written empty, read as the default; the default is asked only then.
  f.DefZipName.clear();
  const std::string text = SaveSetText(f, '.');
  EXPECT_TRUE(Contains(text, ",DefZipName=,"));
  int asked = 0;
  auto provider = [&] {
    ++asked;
    return DefaultZipName("");
  };
  EXPECT_EQ(LoadSetText(text, '.', provider).DefZipName, "\\Backup\\KestroneBackup.zip");
  EXPECT_EQ(asked, 1);
  LoadSetText("DefZipName=C:\\a.zip", '.', provider);
  EXPECT_EQ(asked, 1);
}

TEST(SetText, TheFirstBadValueInFileOrderIsReported) {
  EXPECT_EQ(ConvertMessage([] { Load("AutoMode=1.5"); }), "'1.5' ist kein gültiger Integerwert");
  EXPECT_EQ(ConvertMessage([] { Load("LastBackup=gestern"); }),
            "'gestern' ist kein gültiger Fließkommawert");
  EXPECT_EQ(ConvertMessage([] { Load("SaveFiles=x,AutoMode=y"); }),
            "'y' ist kein gültiger Integerwert");
}

TEST(FloatToText, GeneralFormatWithFifteenDigits) {
  EXPECT_EQ(FloatToText(0, '.'), "0");
  EXPECT_EQ(FloatToText(-2.5, ','), "-2,5");
  EXPECT_EQ(FloatToText(0.1 + 0.2, '.'), "0.3");
  EXPECT_EQ(FloatToText(2.0 / 3, '.'), "0.666666666666667");
  EXPECT_EQ(FloatToText(100, '.'), "100");
  EXPECT_EQ(FloatToText(999999999999999.0, '.'), "999999999999999");
  EXPECT_EQ(FloatToText(0.00001, '.'), "0.00001");
  // Beyond 15 digits before the point, and below 0.00001: the exponent form.
  EXPECT_EQ(FloatToText(1e15, '.'), "1E15");
  EXPECT_EQ(FloatToText(9999999999999999.0, '.'), "1E16");
  EXPECT_EQ(FloatToText(123456789012345678.0, ','), "1,23456789012346E17");
  EXPECT_EQ(FloatToText(0.000001, '.'), "1E-6");
  EXPECT_EQ(FloatToText(-1.5e-7, ','), "-1,5E-7");
}

TEST(TextToNumber, StrictIntegersAndFloats) {
  EXPECT_EQ(TextToInt("+7"), 7);
  EXPECT_EQ(TextToInt("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"", "-", " 7", "7 ", "2147483648", "99999999999999999999", "0x10",
                          "$10", "1e3"})
    EXPECT_EQ(ConvertMessage([&] { TextToInt(bad); }),
              std::string("'") + bad + "' ist kein gültiger Integerwert");

  EXPECT_EQ(TextToFloat("-1,5E3", ','), -1500);
  EXPECT_EQ(TextToFloat(",5", ','), 0.5);
  EXPECT_EQ(TextToFloat("+2e-1", '.'), 0.2);
  EXPECT_EQ(TextToFloat("1,5", '.'), 1.5);
  for (const char* bad : {"", ",", "1,5,", "1.5.", "1.5,0", "1e", " 1", "1 ", "inf", "nan",
                          "1e999"})
    EXPECT_EQ(ConvertMessage([&] { TextToFloat(bad, '.'); }),
              std::string("'") + bad + "' ist kein gültiger Fließkommawert");
}

}  // namespace
}  // namespace vk
