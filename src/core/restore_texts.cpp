#include "core/restore_texts.h"

#include <cstdio>

namespace vk {

namespace {
uint32_t Stamp(zip::DosDateTime d) { return (static_cast<uint32_t>(d.date) << 16) | d.time; }

std::string Files(size_t n) { return n == 1 ? "1 Datei" : std::to_string(n) + " Dateien"; }
}  // namespace

bool IsNewerOnDisk(zip::DosDateTime disk, zip::DosDateTime entry) { return Stamp(disk) > Stamp(entry); }

std::string GermanDateTime(const zip::CivilTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d", t.day, t.month, t.year, t.hour, t.minute);
  return text;
}

std::string NewerFilesQuestion(const std::vector<std::string>& names, const std::string& archiveDate) {
  const bool one = names.size() == 1;
  std::string text = Files(names.size()) + (one ? " der Installation ist" : " der Installation sind") +
                     " neuer als in der Sicherung vom " + archiveDate + " und " +
                     (one ? "würde" : "würden") + " überschrieben:\n";
  for (size_t i = 0; i < names.size() && i < kNamedNewerFiles; ++i) text += "\n" + names[i];
  if (names.size() > kNamedNewerFiles)
    text += "\n… und " + std::to_string(names.size() - kNamedNewerFiles) + " weitere";
  return text + "\n\nSoll die Sicherung trotzdem zurückgeschrieben werden? Der jetzige Stand wird vorher "
                "in einer Rückgängig-Kopie aufbewahrt.";
}

std::string RestoreSummary(size_t written, size_t alreadyRight, const std::string& undoCopy) {
  std::string text = "Die Sicherung wurde zurückgeschrieben.\n\n" + Files(written) +
                     (written == 1 ? " wurde" : " wurden") + " geschrieben, " + Files(alreadyRight) +
                     (alreadyRight == 1 ? " war" : " waren") + " bereits richtig und " +
                     (alreadyRight == 1 ? "blieb, wie sie war." : "blieben, wie sie waren.");
  if (undoCopy.empty()) return text + "\n\nEs wurde nichts überschrieben; eine Rückgängig-Kopie war nicht nötig.";
  return text + "\n\nDer vorherige Stand liegt in der Rückgängig-Kopie \"" + undoCopy + "\".";
}

}  // namespace vk
