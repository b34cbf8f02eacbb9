#include "core/plugin_records.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace vk::host;

TEST(BlockName, EightUpperCaseHexDigits) {
  EXPECT_EQ(BlockName(kRegisterServicePrefix, 420), "KSRegisterService000001A4");
  EXPECT_EQ(BlockName(kPluginInfoPrefix, 0), "KSPluginInfo00000000");
  EXPECT_EQ(BlockName(kPluginInfoPrefix, 0xABCDEF12u), "KSPluginInfoABCDEF12");
  EXPECT_EQ(BlockName(kPluginInfoPrefix, 0xFFFFFFFFu), "KSPluginInfoFFFFFFFF");
}

TEST(ShortString, LengthByteThenCharactersCutAt255) {
  uint8_t field[kShortStringSize + 1];
  for (size_t len : {0u, 1u, 254u, 255u, 256u, 300u}) {
    std::memset(field, 0xEE, sizeof field);
    const std::string text(len, 'x');
    PutShortString(field, text);
    const size_t stored = len > 255 ? 255 : len;
    EXPECT_EQ(field[0], stored) << len;
    EXPECT_EQ(GetShortString(field), std::string(stored, 'x')) << len;
    EXPECT_EQ(field[kShortStringSize], 0xEE) << "wrote past the field for " << len;
  }
}

TEST(ShortString, KeepsAnsiBytesAndIgnoresWhatFollowsTheText) {
  uint8_t field[kShortStringSize];
  std::memset(field, 'Z', sizeof field);
  field[0] = 3;
  field[1] = '\xD6';  // "Ö" in code page 1252
  field[2] = 'l';
  field[3] = '\0';   // an embedded zero is a character like any other
  EXPECT_EQ(GetShortString(field), std::string("\xD6l\0", 3));
}

TEST(Int32, LittleEndianBothSigns) {
  uint8_t b[4];
  PutInt32(b, -2);
  EXPECT_EQ(b[0], 0xFE);
  EXPECT_EQ(b[3], 0xFF);
  EXPECT_EQ(GetInt32(b), -2);
  PutInt32(b, 0x01020304);
  EXPECT_EQ(b[0], 0x04);
  EXPECT_EQ(b[1], 0x03);
  EXPECT_EQ(b[2], 0x02);
  EXPECT_EQ(b[3], 0x01);
  PutInt32(b, static_cast<int32_t>(kUnknownServiceCode));
  EXPECT_EQ(static_cast<uint32_t>(GetInt32(b)), 0x80004001u);
  EXPECT_EQ(GetInt32(b), -2147467263);
}

TEST(PluginInfo, FieldsAtTheirOffsets) {
  TPluginInfo info;
  info.SetPIName("Vaultkin");
  info.SetPICopyright("(c) A. Author");
  info.SetPIDescription("Vaultkin Sicherungs-Plugin");
  info.SetPIVersion(0);
  info.SetPIRevision(2);
  info.SetPIAPIRequiered(7);
  info.SetPIAPISupported(8);
  const uint8_t* b = info.Bytes();
  EXPECT_EQ(b[0], 8);
  EXPECT_EQ(std::memcmp(b + 1, "Vaultkin", 8), 0);
  EXPECT_EQ(b[256], 13);
  EXPECT_EQ(std::memcmp(b + 257, "(c) A. Author", 13), 0);
  EXPECT_EQ(b[512], 26);
  EXPECT_EQ(std::memcmp(b + 513, "Vaultkin Sicherungs-Plugin", 26), 0);
  EXPECT_EQ(GetInt32(b + 768), 0);
  EXPECT_EQ(GetInt32(b + 772), 2);
  EXPECT_EQ(GetInt32(b + 776), 7);
  EXPECT_EQ(GetInt32(b + 780), 8);

  const TPluginInfo back = TPluginInfo::FromBytes(b);
  EXPECT_EQ(back.PIName(), "Vaultkin");
  EXPECT_EQ(back.PICopyright(), "(c) A. Author");
  EXPECT_EQ(back.PIDescription(), "Vaultkin Sicherungs-Plugin");
  EXPECT_EQ(back.PIRevision(), 2);
  EXPECT_EQ(back.PIAPIRequiered(), 7);
  EXPECT_EQ(back.PIAPISupported(), 8);
}

TEST(PluginInfo, FullLengthTextsDoNotSpillIntoTheNextField) {
  TPluginInfo info;
  info.SetPIVersion(-1);
  info.SetPIName(std::string(400, 'n'));
  info.SetPICopyright(std::string(255, 'c'));
  info.SetPIDescription(std::string(255, 'd'));
  EXPECT_EQ(info.PIName(), std::string(255, 'n'));
  EXPECT_EQ(info.PICopyright(), std::string(255, 'c'));
  EXPECT_EQ(info.PIDescription(), std::string(255, 'd'));
  EXPECT_EQ(info.PIVersion(), -1);
}

TEST(ServiceRecord, FieldsAtTheirOffsets) {
  TServiceRecord r;
  r.SetReserved(0);
  r.SetTitle("Vaultkin: Aufgaben");
  r.SetDescription("\xD6" "ffnet den Aufgaben-Dialog");
  r.SetCommand(2048);
  r.SetListenerThreadID(0x1A4);
  const uint8_t* b = r.Bytes();
  EXPECT_EQ(GetInt32(b + 0), 0);
  EXPECT_EQ(b[4], 18);
  EXPECT_EQ(std::memcmp(b + 5, "Vaultkin: Aufgaben", 18), 0);
  EXPECT_EQ(b[260], 26);
  EXPECT_EQ(static_cast<uint8_t>(b[261]), 0xD6);
  EXPECT_EQ(GetInt32(b + 516), 2048);
  EXPECT_EQ(GetInt32(b + 520), 0x1A4);
  EXPECT_EQ(GetInt32(b + 524), 0);

  const TServiceRecord back = TServiceRecord::FromBytes(b);
  EXPECT_EQ(back.Title(), "Vaultkin: Aufgaben");
  EXPECT_EQ(back.Description(), r.Description());
  EXPECT_EQ(back.Command(), 2048);
  EXPECT_EQ(back.ListenerThreadID(), 0x1A4u);
}

TEST(ServiceRecord, ReservedIsWidenedAndHighListenerIdsSurvive) {
  TServiceRecord r;
  r.SetReserved(0xFF);
  r.SetListenerThreadID(0xFFFFFFF0u);
  EXPECT_EQ(GetInt32(r.Bytes()), 0xFF);
  EXPECT_EQ(r.Reserved(), 0xFFu);
  EXPECT_EQ(r.ListenerThreadID(), 0xFFFFFFF0u);
}

TEST(TerminatedBlock, RegistrationBlockIs529BytesEndingInZero) {
  TServiceRecord r;
  r.SetTitle(std::string(255, '\xFF'));
  r.SetDescription(std::string(255, '\xFF'));
  r.SetCommand(-1);
  r.SetListenerThreadID(0xFFFFFFFFu);
  const auto block = TerminatedBlock(r.Bytes(), TServiceRecord::kSize);
  ASSERT_EQ(block.size(), kRegistrationBlockSize);
  EXPECT_EQ(block.back(), 0);
  EXPECT_EQ(std::memcmp(block.data(), r.Bytes(), TServiceRecord::kSize), 0);
}
