#pragma once
// Backup tasks: TSet is one task with its ".set" file, TSets the list of all tasks
// of the task folder, which it loads when made and writes back when destroyed.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/set_text.h"
#include "tasks/config.h"

namespace vk::tasks {

// The folder "Vaultkin" beside the program's executable.
std::string TaskFolder();
// The user's decimal separator, read from the system each time.
char DecimalSeparator();
// The local date and time of day as a day count.
TDateTime Now();

class TSet : public SetFields {
 public:
  std::unique_ptr<TConfig> Config;  // stores the task's text in FileName
  std::string FileName;             // the task's identity; not stored in the file

  // Reads the file (a missing one gives all defaults); writes nothing. A file that
  // cannot be read or holds a value that is no number is reported by the
  // application's error handler, and the task is marked LoadFailed: it is never
  // written (so the file stays as it is) and never run.
  explicit TSet(const std::string& fileName);
  // Saves the file once more (through Config), unless loading failed or the task
  // was discarded.
  virtual ~TSet();
  TSet(const TSet&) = delete;
  TSet& operator=(const TSet&) = delete;

  // Runs the backup when the automatic mode says it is due (mode 2 after AutoDays
  // days, mode 3 always), then saves the task, whatever the run's outcome. Does not
  // look at Active. With no runner installed nothing runs; the task is still saved.
  virtual void RunIfDue();

  // Writes the task's file now.
  void Save();
  // Makes the task forget its file: neither saved nor run from now on. Used for a
  // deleted task and a new one whose creation was cancelled.
  void Discard();

  bool LoadFailed() const { return loadFailed_; }

  // The Config's handlers: the file's text from the fields and back.
  void SaveToText(std::string& text);
  void LoadFromText(const std::string& text);

 private:
  bool loadFailed_ = false;
};

// Destroys a task without writing its file.
void Discard(std::unique_ptr<TSet> set);

// The backup run that a due task starts: returns when the backup is finished or
// abandoned. The start-up installs the real one; until then nothing runs.
using TaskRunner = std::function<bool(TSet&)>;
void SetTaskRunner(TaskRunner run);

class TSets {
 public:
  // Loads every "*.set" file of the folder (hidden, system and read-only ones too;
  // directories are skipped) in the order the file system lists them. A task whose
  // file cannot be loaded is reported and left out; its file is not touched.
  explicit TSets(const std::string& folder);
  // From the last task to the first: writes each task's file, then destroys it.
  virtual ~TSets();
  TSets(const TSets&) = delete;
  TSets& operator=(const TSets&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  TSet* operator[](int index) const { return items_[static_cast<size_t>(index)].get(); }
  int IndexOf(const TSet* set) const;
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  void Add(std::unique_ptr<TSet> set);
  // Takes a task out of the list and hands it to the caller (null when not listed).
  std::unique_ptr<TSet> Remove(TSet* set);

  // RunIfDue for each active task in list order, one after the other. An error of
  // one task is shown and the next task still gets its turn.
  void RunDueTasks();

 private:
  std::vector<std::unique_ptr<TSet>> items_;
};

}  // namespace vk::tasks
