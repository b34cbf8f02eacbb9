#include "core/set_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/comma_list.h"
#include "core/errors.h"

namespace vk {
namespace {

const char kDefaultTaskText[] =
    "Name=,Active=1,\"InclDirs=.,.\\Filebase,.\\Inbound,.\\MsgBase\",UseDefZipName=0,"
    "DefZipName=C:\\Kestrone\\Backup\\KestroneBackup.zip,AutoMode=1,AutoDays=7,LastBackup=0,"
    "SaveRegistry=1,SaveFiles=1";

std::string HostDefault() { return DefaultZipName("C:\\Kestrone"); }

SetFields Load(const std::string& text, char sep = '.') {
  return LoadSetText(text, sep, HostDefault);
}

std::string Save(SetFields f, char sep = '.') { return SaveSetText(f, sep); }

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
  SetFields fresh;
  fresh.DefZipName = HostDefault();
  EXPECT_EQ(Save(fresh), kDefaultTaskText);
  // And it reads back as the same task.
  EXPECT_EQ(Save(Load(kDefaultTaskText)), kDefaultTaskText);
}

TEST(SetText, MissingOrEmptyValuesTakeDefaults) {
  const SetFields f = Load("Name=Nur ein Name");
  EXPECT_EQ(f.Name, "Nur");  // unquoted, the blank ends the entry
  const SetFields g = Load("\"Name=Nur ein Name\"");
  EXPECT_EQ(g.Name, "Nur ein Name");
  EXPECT_TRUE(g.Active);
  EXPECT_EQ(g.InclDirs, kDefaultInclDirs);
  EXPECT_FALSE(g.UseDefZipName);
  EXPECT_EQ(g.DefZipName, "C:\\Kestrone\\Backup\\KestroneBackup.zip");
  EXPECT_EQ(g.AutoMode, 1);
  EXPECT_EQ(g.AutoDays, 7);
  EXPECT_EQ(g.LastBackup, 0);
  EXPECT_TRUE(g.SaveRegistry);
  EXPECT_TRUE(g.SaveFiles);
  EXPECT_EQ(ReadCommaList(Save(g)).size(), 10u);

  // Present but empty is the same as missing, for every key.
  const SetFields e = Load("Name=,Active=,InclDirs=,UseDefZipName=,DefZipName=,AutoMode=,"
                           "AutoDays=,LastBackup=,SaveRegistry=,SaveFiles=");
  EXPECT_EQ(Save(e), kDefaultTaskText);
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
    EXPECT_EQ(g.Active, f.Active);
    EXPECT_EQ(g.InclDirs, f.InclDirs);
    EXPECT_EQ(ReadCommaList(g.InclDirs), (StringList{".", ".\\Mit Blank", ".\\Quote\"d"}));
    EXPECT_EQ(g.UseDefZipName, f.UseDefZipName);
    EXPECT_EQ(g.DefZipName, f.DefZipName);
    EXPECT_EQ(g.AutoMode, f.AutoMode);
    EXPECT_EQ(g.AutoDays, f.AutoDays);
    EXPECT_DOUBLE_EQ(g.LastBackup, f.LastBackup);
    EXPECT_EQ(g.SaveRegistry, f.SaveRegistry);
    EXPECT_EQ(g.SaveFiles, f.SaveFiles);
    EXPECT_EQ(Save(g, sep), text);
  }
}

TEST(SetText, LastBackupUnderADecimalComma) {
  LocalTime t;
  t.year = 1998, t.month = 6, t.day = 21, t.hour = 14, t.minute = 37, t.second = 12;
  SetFields f;
  f.DefZipName = HostDefault();
  f.LastBackup = EncodeDateTime(t);
  const std::string comma = Save(f, ',');
  EXPECT_NE(comma.find(",\"LastBackup=35967,6091666667\","), std::string::npos) << comma;
  const std::string point = Save(f, '.');
  EXPECT_NE(point.find(",LastBackup=35967.6091666667,"), std::string::npos) << point;

  EXPECT_NEAR(Load(comma, ',').LastBackup, f.LastBackup, 1e-9);
  // Written under a comma, read under a point: the value is no number then.
  EXPECT_EQ(ConvertMessage([&] { Load(comma, '.'); }),
            "'35967,6091666667' ist kein gültiger Fließkommawert");
  EXPECT_EQ(ConvertMessage([&] { Load(point, ','); }),
            "'35967.6091666667' ist kein gültiger Fließkommawert");
}

TEST(SetText, BooleansUseTheLowEightBits) {
  EXPECT_TRUE(Load("Active=2").Active);
  EXPECT_FALSE(Load("Active=256").Active);
  EXPECT_TRUE(Load("Active=257").Active);
  EXPECT_TRUE(Load("Active=-1").Active);
  EXPECT_FALSE(Load("Active=0").Active);
  EXPECT_FALSE(Load("SaveFiles=512").SaveFiles);
  EXPECT_TRUE(Load("UseDefZipName=3").UseDefZipName);
  EXPECT_NE(Save(Load("Active=2")).find(",Active=1,"), std::string::npos);
  EXPECT_NE(Save(Load("Active=256")).find(",Active=0,"), std::string::npos);
  EXPECT_EQ(ConvertMessage([] { Load("Active=ja"); }), "'ja' ist kein gültiger Integerwert");
}

TEST(SetText, KeysInAnyCaseAndOrderFirstOneWins) {
  const SetFields f = Load("autodays=3,AUTOMODE=2,AutoDays=9,name=x,bogus=1,NAME=y");
  EXPECT_EQ(f.AutoDays, 3);
  EXPECT_EQ(f.AutoMode, 2);
  EXPECT_EQ(f.Name, "x");
  // The second, invalid occurrence is never looked at.
  EXPECT_EQ(Load("AutoDays=4,AutoDays=vier").AutoDays, 4);
}

TEST(SetText, QuotedDefZipNameLosesItsQuotes) {
  SetFields f = Load("DefZipName=\"C:\\Sich\\a.zip\"");
  EXPECT_EQ(f.DefZipName, "\"C:\\Sich\\a.zip\"");  // kept as read
  const std::string text = SaveSetText(f, '.');
  EXPECT_NE(text.find(",DefZipName=C:\\Sich\\a.zip,"), std::string::npos) << text;
  EXPECT_EQ(f.DefZipName, "C:\\Sich\\a.zip");  // the task's field, too

  // Only a leading quote triggers it; a trailing one alone stays.
  SetFields g;
  g.DefZipName = "C:\\a.zip\"";
  SaveSetText(g, '.');
  EXPECT_EQ(g.DefZipName, "C:\\a.zip\"");
}

TEST(SetText, EmptyDefZipNameIsWrittenEmptyAndReadAsTheDefault) {
  SetFields f;
  f.DefZipName = "";
  const std::string text = SaveSetText(f, '.');
  EXPECT_NE(text.find(",DefZipName=,"), std::string::npos);
  EXPECT_EQ(Load(text).DefZipName, "C:\\Kestrone\\Backup\\KestroneBackup.zip");
  // No host directory known: the default starts with the backslash.
  EXPECT_EQ(LoadSetText(text, '.', [] { return DefaultZipName(""); }).DefZipName,
            "\\Backup\\KestroneBackup.zip");
  EXPECT_EQ(LoadSetText(text, '.', nullptr).DefZipName, "\\Backup\\KestroneBackup.zip");
}

TEST(SetText, DefaultZipNameIsAskedOnlyWhenNeeded) {
  int calls = 0;
  auto provider = [&] {
    ++calls;
    return std::string("X");
  };
  LoadSetText("DefZipName=C:\\a.zip", '.', provider);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(LoadSetText("Name=a", '.', provider).DefZipName, "X");
  EXPECT_EQ(calls, 1);
}

TEST(SetText, BadNumbersNameTheValue) {
  EXPECT_EQ(ConvertMessage([] { Load("AutoMode=1.5"); }), "'1.5' ist kein gültiger Integerwert");
  EXPECT_EQ(ConvertMessage([] { Load("AutoDays=sieben"); }),
            "'sieben' ist kein gültiger Integerwert");
  EXPECT_EQ(ConvertMessage([] { Load("LastBackup=gestern"); }),
            "'gestern' ist kein gültiger Fließkommawert");
  // Keys are checked in the order of the file table, not the order in the text.
  EXPECT_EQ(ConvertMessage([] { Load("SaveFiles=x,AutoMode=y"); }),
            "'y' ist kein gültiger Integerwert");
  // Unknown modes are kept as they are.
  EXPECT_EQ(Load("AutoMode=17").AutoMode, 17);
}

TEST(FloatToText, GeneralFormatWithFifteenDigits) {
  EXPECT_EQ(FloatToText(0, '.'), "0");
  EXPECT_EQ(FloatToText(-0.0, '.'), "0");
  EXPECT_EQ(FloatToText(1, '.'), "1");
  EXPECT_EQ(FloatToText(100, '.'), "100");
  EXPECT_EQ(FloatToText(-2.5, ','), "-2,5");
  EXPECT_EQ(FloatToText(0.1 + 0.2, '.'), "0.3");
  EXPECT_EQ(FloatToText(1.0 / 3, '.'), "0.333333333333333");
  EXPECT_EQ(FloatToText(2.0 / 3, '.'), "0.666666666666667");
  EXPECT_EQ(FloatToText(45000.5, '.'), "45000.5");
  EXPECT_EQ(FloatToText(123456789012345.0, '.'), "123456789012345");
  EXPECT_EQ(FloatToText(999999999999999.0, '.'), "999999999999999");
  EXPECT_EQ(FloatToText(1e14, '.'), "100000000000000");
  // Beyond 15 digits before the point, and below 0.00001: the exponent form.
  EXPECT_EQ(FloatToText(1e15, '.'), "1E15");
  EXPECT_EQ(FloatToText(9999999999999999.0, '.'), "1E16");
  EXPECT_EQ(FloatToText(123456789012345678.0, ','), "1,23456789012346E17");
  EXPECT_EQ(FloatToText(0.00001, '.'), "0.00001");
  EXPECT_EQ(FloatToText(0.000012345, '.'), "0.000012345");
  EXPECT_EQ(FloatToText(0.000001, '.'), "1E-6");
  EXPECT_EQ(FloatToText(-1.5e-7, ','), "-1,5E-7");
  EXPECT_EQ(FloatToText(1e300, '.'), "1E300");
}

TEST(TextToNumber, IntegersAreStrict) {
  EXPECT_EQ(TextToInt("7"), 7);
  EXPECT_EQ(TextToInt("-7"), -7);
  EXPECT_EQ(TextToInt("+7"), 7);
  EXPECT_EQ(TextToInt("007"), 7);
  EXPECT_EQ(TextToInt("2147483647"), 2147483647);
  EXPECT_EQ(TextToInt("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"", "-", "+", " 7", "7 ", "2147483648", "-2147483649",
                          "99999999999999999999", "0x10", "$10", "1.0", "1e3", "--1"}) {
    EXPECT_EQ(ConvertMessage([&] { TextToInt(bad); }),
              std::string("'") + bad + "' ist kein gültiger Integerwert");
  }
}

TEST(TextToNumber, FloatsFollowTheDecimalSeparator) {
  EXPECT_EQ(TextToFloat("0", '.'), 0);
  EXPECT_EQ(TextToFloat("1,5", ','), 1.5);
  EXPECT_EQ(TextToFloat("-1,5E3", ','), -1500);
  EXPECT_EQ(TextToFloat("+2e-1", '.'), 0.2);
  EXPECT_EQ(TextToFloat(",5", ','), 0.5);
  EXPECT_EQ(TextToFloat("5,", ','), 5);
  EXPECT_EQ(TextToFloat("1E15", '.'), 1e15);
  for (const char* bad : {"", ",", "-", "1,5", "1.5.", "1e", "1e+", "e5", " 1", "1 ", "inf",
                          "nan", "0x1p3", "1e999"}) {
    EXPECT_EQ(ConvertMessage([&] { TextToFloat(bad, '.'); }),
              std::string("'") + bad + "' ist kein gültiger Fließkommawert");
  }
  EXPECT_EQ(ConvertMessage([] { TextToFloat("1.5", ','); }),
            "'1.5' ist kein gültiger Fließkommawert");
}

TEST(FloatToText, ReadsBackToFifteenDigits) {
  for (double v : {35967.6091666667, 45123.999988425926, 0.0000123, -12.75, 1e20, 7.0}) {
    for (char sep : {'.', ','}) {
      const double back = TextToFloat(FloatToText(v, sep), sep);
      EXPECT_NEAR(back, v, std::fabs(v) * 1e-14) << FloatToText(v, sep);
    }
  }
}

}  // namespace
}  // namespace vk
