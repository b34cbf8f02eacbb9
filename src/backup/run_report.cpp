#include "backup/run_report.h"

namespace vk::backup {

void RunReport::Clear() {
  files_.clear();
  steps_.clear();
}

void RunReport::FileProblem(const std::string& message) { files_.push_back(message); }

void RunReport::RunProblem(const std::string& message) { steps_.push_back(message); }

std::string RunReport::Text(const std::string& headline, const std::string& verb) const {
  std::string text = headline;
  if (!files_.empty()) {
    text += "\n\n";
    if (files_.size() == 1)
      text += "1 Datei konnte nicht " + verb + " werden:";
    else
      text += std::to_string(files_.size()) + " Dateien konnten nicht " + verb + " werden:";
    for (size_t i = 0; i < files_.size() && i < kNamedFiles; ++i) text += "\n" + files_[i];
    if (files_.size() > kNamedFiles)
      text += "\n... und " + std::to_string(files_.size() - kNamedFiles) + " weitere.";
  }
  if (!steps_.empty()) {
    text += "\n";
    for (const std::string& s : steps_) text += "\n" + s;
  }
  return text;
}

}  // namespace vk::backup
