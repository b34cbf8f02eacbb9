#pragma once
// TGetFileNameForm asks for the file name of a new backup task.
#include <functional>
#include <string>

#include "tasks/dialog_focus.h"
#include "tasks/sets.h"
#include "win/form.h"

namespace vk::tasks {

class TGetFileNameForm : public win::Form {
 public:
  // `folder` is the task folder in which the name must not exist yet.
  explicit TGetFileNameForm(std::string folder = TaskFolder());

  // Empties Edit1, shows the dialog modally; true when it was closed with OK.
  bool Execute();
  // The entered text with the extension ".set": another extension is replaced by
  // it, a name without one gets it appended.
  std::string GetFileName() const;
  // OK: closes the dialog unless the name is taken or cannot be a task file.
  void Button2Click();

  // Besides the files of the folder, a name the caller already uses for a task
  // that has not been written yet (compared without regard to case).
  std::function<bool(const std::string& fileName)> NameInUse;

  enum { kEdit1 = 101, kLabel1 = 102, kButton1 = IDCANCEL, kButton2 = IDOK };

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void OnCommand(int id, int notifyCode, HWND control) override;

 private:
  std::string folder_;
  FocusMemory focus_;
};

// ".set" in place of the name's extension, or appended when it has none.
std::string WithSetExtension(const std::string& name);
// Whether a name can be a task file of its own in the task folder: not empty
// before its extension, no folder part, no character Windows refuses in file names,
// no device name.
bool IsPlainFileName(const std::string& name);

extern win::FormWhenNeeded<TGetFileNameForm> GetFileNameForm;

}  // namespace vk::tasks
