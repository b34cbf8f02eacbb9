#include "core/restore_choice.h"

#include <map>
#include <unordered_set>

#include "core/zip_names.h"

namespace vk {

namespace {

struct Split {
  std::u16string name;    // "/" separated, no trailing "/"
  std::u16string folder;  // the folder the entry belongs to
  bool directory = false;
};

Split SplitName(std::u16string_view relativeName) {
  Split s;
  s.name = zip::SlashesToForward(relativeName);
  s.directory = !s.name.empty() && s.name.back() == u'/';
  if (s.directory) s.name.pop_back();
  if (s.directory) {
    s.folder = s.name;  // a stored folder stands for itself
  } else {
    const size_t slash = s.name.rfind(u'/');
    s.folder = slash == std::u16string::npos ? std::u16string() : s.name.substr(0, slash);
  }
  return s;
}

bool Writable(std::u16string_view name) {
  return zip::CheckExtractName(zip::SlashesToForward(name)) == zip::NameProblem::kOk;
}

bool IsRegFile(const Split& s) {
  return !s.directory && zip::FoldCase(s.name) == zip::FoldCase(kRestoreRegFile);
}

// Whether `folder` lies at or below `top` ("" is above everything).
bool Within(const std::u16string& folder, const std::u16string& top) {
  if (top.empty()) return true;
  return folder.size() >= top.size() && folder.compare(0, top.size(), top) == 0 &&
         (folder.size() == top.size() || folder[top.size()] == u'/');
}

}  // namespace

std::vector<std::u16string> ArchiveFolders(const std::vector<std::u16string>& entryNames) {
  std::vector<std::u16string> folders = {u""};
  std::unordered_set<std::u16string> seen = {u""};
  for (const std::u16string& entry : entryNames) {
    if (!Writable(entry)) continue;
    const std::u16string folder = SplitName(entry).folder;
    for (size_t end = folder.find(u'/');; end = folder.find(u'/', end + 1)) {
      const std::u16string step = folder.substr(0, end);
      if (!step.empty() && seen.insert(zip::FoldCase(step)).second) folders.push_back(step);
      if (end == std::u16string::npos) break;
    }
  }
  return folders;
}

bool RestoreSelection::Chosen(std::u16string_view relativeName) const {
  if (all) return true;
  const Split s = SplitName(relativeName);
  if (IsRegFile(s)) return registry;
  const std::u16string folder = zip::FoldCase(s.folder);
  for (const std::u16string& f : folders)
    if (zip::FoldCase(zip::SlashesToForward(f)) == folder) return true;
  return false;
}

std::vector<ExtractSpec> ExtractSpecs(const RestoreSelection& selection,
                                      const std::vector<std::u16string>& entryNames,
                                      const std::function<bool(std::u16string_view)>& patternable) {
  if (selection.all) return {{u"*", false}};
  // The folders in folded form, parents before children, and the entries of each.
  const std::vector<std::u16string> spellings = ArchiveFolders(entryNames);
  std::vector<std::u16string> folders;
  for (const std::u16string& f : spellings) folders.push_back(zip::FoldCase(f));
  std::map<std::u16string, std::vector<Split>> entriesOf;
  bool regFile = false, regChosen = false;
  for (const std::u16string& entry : entryNames) {
    // A name with a wildcard character is refused by extraction anyway; as a
    // specification it would take other names with it.
    if (!Writable(entry) || zip::HasWildcard(entry)) continue;
    Split s = SplitName(entry);
    if (IsRegFile(s)) regFile = true;
    entriesOf[zip::FoldCase(s.folder)].push_back(std::move(s));
  }
  auto chosen = [&](const std::u16string& folded) {
    for (const std::u16string& f : selection.folders)
      if (zip::FoldCase(zip::SlashesToForward(f)) == folded) return true;
    return false;
  };

  std::vector<ExtractSpec> specs;
  std::vector<std::u16string> covered;  // folders whose whole subtree a pattern takes
  for (size_t i = 0; i < folders.size(); ++i) {
    const std::u16string& folder = folders[i];
    bool inside = false;
    for (const std::u16string& top : covered) inside = inside || Within(folder, top);
    if (inside || !chosen(folder)) continue;
    bool whole = folder.empty() ? (!regFile || selection.registry) : true;
    for (size_t j = i + 1; j < folders.size() && whole; ++j)
      if (Within(folders[j], folder) && !chosen(folders[j])) whole = false;
    const std::vector<Split>& own = entriesOf[folder];
    const std::u16string& spelled = spellings[i];
    if (whole && !zip::HasWildcard(spelled) && (folder.empty() || patternable(spelled))) {
      specs.push_back({folder.empty() ? u"*" : spelled + u"/*", false});
      covered.push_back(folder);
      if (folder.empty()) regChosen = true;
      continue;
    }
    for (const Split& s : own)
      if (!IsRegFile(s)) specs.push_back({s.directory ? s.name + u"/" : s.name, true});
  }
  if (selection.registry && !regChosen)
    for (const Split& s : entriesOf[u""])
      if (IsRegFile(s)) specs.push_back({s.name, true});
  return specs;
}

}  // namespace vk
