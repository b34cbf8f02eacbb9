#pragma once
// What went wrong during one backup or restore run, gathered from the archive
// engine's messages and the run's own steps, and told to the user in one box at the
// end: a run that lost files must not look like one that succeeded.
#include <string>
#include <vector>

namespace vk::backup {

class RunReport {
 public:
  // How many files the box names with their reasons; the rest are only counted.
  static constexpr size_t kNamedFiles = 5;

  void Clear();
  // A message of the archive engine: one file that could not be packed or extracted.
  void FileProblem(const std::string& message);
  // A step of the run that failed as a whole (REGEDIT, the archive itself).
  void RunProblem(const std::string& message);

  bool Empty() const { return files_.empty() && steps_.empty(); }
  size_t FileCount() const { return files_.size(); }
  const std::vector<std::string>& Steps() const { return steps_; }

  // The box's text: `headline`, then "<n> Datei(en) konnte(n) nicht <verb>:" with the
  // first few messages, then every failed step.
  std::string Text(const std::string& headline, const std::string& verb) const;

 private:
  std::vector<std::string> files_;
  std::vector<std::string> steps_;
};

}  // namespace vk::backup
