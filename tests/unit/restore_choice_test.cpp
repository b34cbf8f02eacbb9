#include "core/restore_choice.h"

#include <gtest/gtest.h>

#include <set>

#include "core/zip_directory.h"
#include "core/zip_names.h"
#include "zip_builder.h"

namespace vk {
namespace {

// An installation's shape: top-level files, the registry file, nested folders, a
// stored empty folder, names with blanks and beyond the ANSI code page, and names
// that extraction refuses.
const std::vector<std::u16string> kEntries = {
    u"kestrone.exe", u"KESTRONE.REG", u"Filebase/a.txt", u"Filebase/Alt/b.txt",
    u"filebase/alt/c.txt", u"Inbound/", u"Mail Box/d e.txt", u"\u042F\u0431\u043B/\u0444.txt", u"\u042F\u0431\u043B/Sub/g.txt",
    u"../evil.txt", u"Bad?/x.txt", u"MsgBase/Deep/Er/h.txt",
};

// Which of the names the extractor takes with these specifications: the plan of an
// archive of those names, as the engine makes it.
std::set<std::u16string> Extracted(const std::vector<ExtractSpec>& specs) {
  if (specs.empty()) return {};  // the restore then leaves the extractor out
  testzip::ZipBuilder b;
  for (const std::u16string& name : kEntries) b.Add({zip::EncodeUtf8(name), "", zip::kMethodStored, zip::kFlagUtf8});
  const std::string archive = b.Finish();
  zip::MemoryAccess file(archive);
  zip::Directory dir = zip::ReadDirectory(file);
  std::vector<std::u16string> texts;
  for (const ExtractSpec& s : specs) texts.push_back(s.text);
  std::set<std::u16string> taken;
  for (const zip::PlannedEntry& p : zip::PlanExtraction(file, dir, true, texts).entries)
    if (p.refusal == zip::Refusal::kNone) taken.insert(kEntries[p.index]);
  return taken;
}

// Patterns only for names without Cyrillic letters, as the ANSI code page 1252.
bool Cp1252(std::u16string_view text) { return zip::EncodeCp1252(text).has_value(); }

TEST(RestoreChoice, FoldersFromEntriesParentsFirstOneSpellingNoRefusedNames) {
  const std::vector<std::u16string> expected = {u"", u"Filebase", u"Filebase/Alt", u"Inbound", u"Mail Box", u"\u042F\u0431\u043B",
                                         u"\u042F\u0431\u043B/Sub", u"MsgBase", u"MsgBase/Deep", u"MsgBase/Deep/Er"};
  EXPECT_EQ(ArchiveFolders(kEntries), expected);
  EXPECT_EQ(ArchiveFolders({}), std::vector<std::u16string>{u""});
}

TEST(RestoreChoice, ChosenTakesAFoldersOwnFilesAndTheRegistryApart) {
  RestoreSelection s;
  s.all = false;
  s.registry = false;
  s.folders = {u"Filebase", u"mail box", u"\u042F\u0431\u043B\\Sub"};
  const struct {
    const char* label;
    std::u16string name;
    bool chosen;
  } cases[] = {
      {"own file", u"Filebase/a.txt", true},     {"other case, backslash", u"FILEBASE\\A.TXT", true},
      {"subfolder apart", u"Filebase/Alt/b.txt", false}, {"blank", u"Mail Box/d e.txt", true},
      {"nested beyond ANSI", u"\u042F\u0431\u043B/Sub/g.txt", true},  {"its parent", u"\u042F\u0431\u043B/\u0444.txt", false},
      {"top level", u"kestrone.exe", false},       {"registry", u"kestrone.reg", false},
      {"stored folder", u"Filebase/", true},       {"prefix is no folder", u"Filebase2/a.txt", false},
  };
  for (const auto& c : cases) EXPECT_EQ(s.Chosen(c.name), c.chosen) << c.label;
  s.registry = true;
  s.folders.push_back(u"");
  EXPECT_TRUE(s.Chosen(u"Kestrone.Reg"));
  EXPECT_TRUE(s.Chosen(u"kestrone.exe"));
  EXPECT_TRUE(RestoreSelection{}.Chosen(u"anything/at/all"));
}

// Whatever is chosen, the extractor takes exactly the chosen names that it may
// write: never one more, which would overwrite what the user left out.
TEST(RestoreChoice, SpecsTakeExactlyTheChosenEntries) {
  const auto all = ArchiveFolders(kEntries);
  const struct {
    const char* label;
    std::vector<std::u16string> folders;
    bool registry;
    size_t maxSpecs;  // whole subtrees go as one pattern
  } cases[] = {
      {"one folder", {u"Inbound"}, false, 1},
      {"folder without its subfolder", {u"Filebase"}, false, 1},
      {"subtree", {u"Filebase", u"Filebase/Alt"}, false, 1},
      {"deep subtree", {u"MsgBase", u"MsgBase/Deep", u"MsgBase/Deep/Er"}, false, 1},
      {"beyond ANSI by name", {u"\u042F\u0431\u043B", u"\u042F\u0431\u043B/Sub"}, false, 2},
      {"registry only", {}, true, 1},
      {"top level without registry", {u""}, false, 1},
      {"everything but the registry", all, false, 9},
      {"everything", all, true, 1},
      {"nothing", {}, false, 0},
  };
  for (const auto& c : cases) {
    RestoreSelection s;
    s.all = false;
    s.folders = c.folders;
    s.registry = c.registry;
    const std::vector<ExtractSpec> specs = ExtractSpecs(s, kEntries, Cp1252);
    std::set<std::u16string> expected;
    for (const std::u16string& name : kEntries)
      if (s.Chosen(name) && zip::CheckExtractName(name) == zip::NameProblem::kOk) expected.insert(name);
    EXPECT_EQ(Extracted(specs), expected) << c.label;
    EXPECT_LE(specs.size(), c.maxSpecs) << c.label;
    for (const ExtractSpec& spec : specs)
      EXPECT_TRUE(spec.literal || Cp1252(spec.text)) << c.label;
  }
}

}  // namespace
}  // namespace vk
