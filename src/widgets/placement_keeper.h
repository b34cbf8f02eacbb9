#pragma once
// TPlacementKeeper remembers where its window was and how it was shown (normal,
// minimized, maximized) across runs: it reads the placement back each time the window
// is shown and writes it when the window is closed, or when it goes away without
// having been closed. It can also forbid resizing and impose tracking-size limits.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vk::widgets {

class TPlacementStorage;

struct TPlacementOptions {
  bool fpState = false;          // normal, minimized or maximized
  bool fpPosition = false;       // the normal rectangle and the min/max positions
  bool fpActiveControl = false;  // the control that had the focus, by its id
};

// Tracking-size limits; 0 means not set.
struct TWinMinMaxInfo {
  int32_t MaxPosLeft = 0, MaxPosTop = 0, MaxSizeHeight = 0, MaxSizeWidth = 0;
  int32_t MaxTrackHeight = 0, MaxTrackWidth = 0, MinTrackHeight = 0, MinTrackWidth = 0;
  bool AllZero() const;
  bool operator==(const TWinMinMaxInfo& o) const;
  bool operator!=(const TWinMinMaxInfo& o) const { return !(*this == o); }
};

class TPlacementKeeper {
 public:
  // Attaches to the owner window, which exists with all its controls.
  explicit TPlacementKeeper(HWND owner);
  // A window that goes away without having been closed since it was last shown is
  // stored once more, with "Visible" "1".
  ~TPlacementKeeper();
  TPlacementKeeper(const TPlacementKeeper&) = delete;
  TPlacementKeeper& operator=(const TPlacementKeeper&) = delete;

  bool Active = true;       // off: showing restores nothing, closing stores nothing
  std::string IniFileName;  // registry key path or ini file; empty: from the program's name
  std::string IniSection;   // sub-key or section; empty: the owner's window class
  TPlacementOptions Options;
  bool UseRegistry = false;
  std::function<void()> OnSavePlacement;     // after the values have been written
  std::function<void()> OnRestorePlacement;  // after the values have been read and applied

  const TWinMinMaxInfo& MinMaxInfo() const { return minMaxInfo_; }
  void SetMinMaxInfo(const TWinMinMaxInfo& info);
  // On: no sizing border, size and maximize greyed in the system menu, no maximize box.
  bool PreventResize() const { return preventResize_; }
  void SetPreventResize(bool on);

  void LoadPlacement();
  // Does nothing for a window that was never restored (unless Active is off).
  void StorePlacement();

  std::string StorageName() const;
  std::string SectionName() const;

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data);
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void ApplyHook(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
  void ApplyPreventResize();
  void AdjustMaxPosition();
  void StoreOnDestroy();
  void Detach();
  std::unique_ptr<TPlacementStorage> OpenStorage() const;

  HWND window_;
  TWinMinMaxInfo minMaxInfo_;
  bool preventResize_ = false;
  bool loaded_ = false, stored_ = false, destroying_ = false, hadMaximize_ = false;
};

// The value work for one window on an open storage.
void WritePlacementValues(HWND window, TPlacementStorage& storage, const std::string& section);
void ReadPlacementValues(HWND window, TPlacementStorage& storage, const std::string& section,
                         bool loadState, bool loadPosition);

}  // namespace vk::widgets
