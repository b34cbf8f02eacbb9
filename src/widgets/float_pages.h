#pragma once
// A page control on the Windows tab control whose tabs the program always draws
// (pictures, hot tracking, text on its side), and whose pages can be torn off with
// the mouse into small floating windows and docked back by closing those.
//
// The sheets are siblings of the tab window, placed over its display area (which the
// tab window leaves out of its own painting), so the dialog manager's Tab key walks
// from the tabs into the page as usual.
//
// One header for the classes that are friends on purpose; their code lives in
// float_tabs.cpp (the tab texts and the tab window), float_tab_drawing.cpp (how a tab
// is drawn), float_page_control.cpp (the pages and Ctrl+Tab) and float_sheet.cpp (a
// sheet with its floating window).
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/float_pages_layout.h"

namespace vk::widgets {

// A tab control request failed: "TabControl Zugriffsfehler".
class EListError : public Exception { using Exception::Exception; };
// A property set outside its range, and a page index beyond the last page.
class EPropertyError : public Exception { using Exception::Exception; };

enum class TFloatTabPosition { tpTopLeft, tpBottomRight };
enum class TTextRotation { trHorizontal, trVertical };
enum class TGripAlign { gaLeft, gaRight, gaTop, gaBottom };

// Messages to a page control's window.
inline constexpr UINT kSheetDocked = WM_USER;         // sent by a sheet after docking back
inline constexpr UINT kSheetFloated = WM_USER + 1;    // sent by a sheet after tearing off
inline constexpr UINT kRefreshImages = WM_USER + 2;   // posted after the window was re-created

class TCustomFloatTabControl;
class TFloatPageControl;
class TFloatTabSheet;

// The texts of the tab control's items, each carrying one object in its parameter.
class TTabStrings {
 public:
  explicit TTabStrings(TCustomFloatTabControl& owner) : owner_(owner) {}
  int Count() const;
  std::string Get(int index) const;
  void* Object(int index) const;
  int Image(int index) const;
  void Put(int index, const std::string& text);
  void SetImage(int index, int image);
  void Insert(int index, const std::string& text, void* object);
  void Delete(int index);
  void Clear();
  void Move(int from, int to);
  // Several changes at once: the display area is fitted once at the end.
  void BeginUpdate() { ++updating_; }
  void EndUpdate();

 private:
  HWND Tabs() const;
  void Changed();
  TCustomFloatTabControl& owner_;
  int updating_ = 0;
};

class TCustomFloatTabControl {
 public:
  using TDrawFloatTabEvent = std::function<void(TCustomFloatTabControl& control, HDC dc,
                                                const std::string& caption, int pageIndex,
                                                const RECT& rect)>;

  TCustomFloatTabControl();
  virtual ~TCustomFloatTabControl();
  TCustomFloatTabControl(const TCustomFloatTabControl&) = delete;
  TCustomFloatTabControl& operator=(const TCustomFloatTabControl&) = delete;

  // Creates the tab window as a child of `parent` (289 x 193 unless told otherwise).
  void Create(HWND parent, int id, int x, int y, int width = 289, int height = 193);
  HWND Handle() const { return hwnd_; }
  TTabStrings& Tabs() { return tabs_; }
  const TTabStrings& Tabs() const { return tabs_; }

  bool ButtonStyle() const { return buttonStyle_; }
  void SetButtonStyle(bool on);
  bool HotTrack() const { return hotTrack_; }
  void SetHotTrack(bool on);
  bool MultiLine() const { return multiLine_; }
  void SetMultiLine(bool on);  // off also switches ScrollOpposite off
  bool ScrollOpposite() const { return scrollOpposite_; }
  void SetScrollOpposite(bool on);  // on also switches MultiLine on
  int TabHeight() const { return tabHeight_; }
  void SetTabHeight(int height);  // 0: automatic; negative raises EPropertyError
  int TabWidth() const { return tabWidth_; }
  void SetTabWidth(int width);
  TFloatTabPosition TabPosition() const { return tabPosition_; }
  void SetTabPosition(TFloatTabPosition position);
  TTextRotation TextRotation() const { return textRotation_; }
  void SetTextRotation(TTextRotation rotation);
  bool VerticalTabs() const { return verticalTabs_; }
  void SetVerticalTabs(bool on);
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool on);
  HIMAGELIST Images() const { return images_; }
  void SetImages(HIMAGELIST images);

  int TabIndex() const;  // the selected tab, -1 for none
  int HotTab() const { return hotTab_; }
  // Where the pages go: the client area less the tabs, two pixels lower at the top.
  RECT DisplayRect() const;

  TDrawFloatTabEvent OnDrawTab;  // replaces the default drawing of a tab
  std::function<void(TCustomFloatTabControl& sender, bool& allowChange)> OnChanging;
  std::function<void(TCustomFloatTabControl& sender)> OnChange;

  // How many blanks make room in front of a tab's text for its picture and for what
  // the tab control's frame takes of the drawing, while Images is set. The tab
  // control is not given the image list: some versions would then make every tab
  // wider, with a picture or without, and the four pages of a dialog no longer fit.
  int PictureBlanks(int image) const;

  // The default drawing of one tab, as the tab control asks for it.
  void DrawTab(HDC dc, int index, const RECT& rect);

 protected:
  void SelectTab(int index);
  // Asks OnChanging; false keeps the present tab.
  virtual bool CanChange();
  // After another tab was selected.
  virtual void Change();
  // The display area may have moved: the page control fits its sheets to it.
  virtual void Realign();
  // The name in the out-of-range message.
  virtual const char* ClassName() const { return "TCustomFloatTabControl"; }
  // Messages of the tab window before the control's own handling; true when handled.
  virtual bool TabMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

 private:
  friend class TTabStrings;
  static LRESULT CALLBACK TabProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  static LRESULT CALLBACK ParentProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  LRESULT OnTabMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  DWORD WindowStyle() const;
  HWND CreateTabWindow(HWND parent, int id, const RECT& bounds);
  void RecreateWindow();
  void ApplyItemSize();
  void TabsChanged();
  void TrackHot(int x, int y);
  void InvalidateTab(int index);
  void DrawRotatedText(HDC dc, const std::string& text, int angle, const RECT& rect);

  HWND hwnd_ = nullptr;
  HWND parent_ = nullptr;
  TTabStrings tabs_{*this};
  HIMAGELIST images_ = nullptr;
  int hotTab_ = -1;
  bool buttonStyle_ = false, hotTrack_ = false, multiLine_ = false, scrollOpposite_ = false;
  bool verticalTabs_ = false, tabStop_ = true;
  int tabHeight_ = 0, tabWidth_ = 0;
  TFloatTabPosition tabPosition_ = TFloatTabPosition::tpTopLeft;
  TTextRotation textRotation_ = TTextRotation::trHorizontal;
};

class TFloatPageControl : public TCustomFloatTabControl {
 public:
  TFloatPageControl();
  ~TFloatPageControl() override;

  int PageCount() const { return static_cast<int>(pages_.size()); }
  TFloatTabSheet* Pages(int index) const { return pages_.at(static_cast<size_t>(index)); }
  TFloatTabSheet* ActivePage() const { return activePage_; }
  void SetActivePage(TFloatTabSheet* page);

  // Allows the only remaining sheet to be torn off.
  bool RemoveLastTab = false;
  bool CanFloatSheet() const;

  // The next page with a tab in the given direction, if OnChanging allows it.
  void SelectAdjacentPage(bool forward);
  TFloatTabSheet* FindAdjacentPage(TFloatTabSheet* current, bool forward, bool tabsOnly) const;

  std::function<void(TFloatPageControl& sender)> OnFloatTabSheet;
  std::function<void(TFloatPageControl& sender)> OnDockTabSheet;

 protected:
  void Change() override;
  void Realign() override;
  const char* ClassName() const override { return "TFloatPageControl"; }
  bool TabMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  friend class TFloatTabSheet;
  void AttachSheet(TFloatTabSheet* sheet);
  void DetachSheet(TFloatTabSheet* sheet);
  void MovePage(TFloatTabSheet* sheet, int index);
  void SortDockedPages();
  void RefreshImages();
  static LRESULT CALLBACK KeyboardFilter(int code, WPARAM wParam, LPARAM lParam);

  std::vector<TFloatTabSheet*> pages_;
  std::vector<TFloatTabSheet*> floating_;  // torn off, to be docked back here
  TFloatTabSheet* activePage_ = nullptr;
};

// The small tool window that holds a torn-off sheet; closing it docks the sheet back.
class TFloatingForm {
 public:
  TFloatingForm(TFloatTabSheet& sheet, int clientWidth, int clientHeight);
  ~TFloatingForm();
  TFloatingForm(const TFloatingForm&) = delete;
  TFloatingForm& operator=(const TFloatingForm&) = delete;
  HWND Handle() const { return hwnd_; }
  TFloatTabSheet& Sheet() const { return sheet_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
  TFloatTabSheet& sheet_;
  HWND hwnd_ = nullptr;
};

class TFloatTabSheet {
 public:
  TFloatTabSheet();
  ~TFloatTabSheet();
  TFloatTabSheet(const TFloatTabSheet&) = delete;
  TFloatTabSheet& operator=(const TFloatTabSheet&) = delete;

  HWND Handle() const { return hwnd_; }
  TFloatPageControl* PageControl() const { return pageControl_; }
  // Detaches from the old page control and attaches to the new one (as its last page).
  void SetPageControl(TFloatPageControl* control);

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  bool Dragable() const { return dragable_; }
  void SetDragable(bool on);
  TGripAlign GripAlign() const { return gripAlign_; }
  void SetGripAlign(TGripAlign align);
  int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int index);
  int StaticPageIndex = -1;  // the ordering key when the pages are sorted after a dock
  int PageIndex() const;
  void SetPageIndex(int index);  // beyond the last page raises EPropertyError
  bool TabVisible() const { return tabVisible_; }
  void SetTabVisible(bool on);
  int VisibleTabIndex() const;  // -1 without a tab

  // The strip by which the sheet is torn off (sheet coordinates), empty unless dragable.
  RECT GripRect() const;
  // The sheet less its grip strip.
  RECT ClientRect() const;

  bool Floating() const { return floating_; }
  TFloatingForm* FloatingForm() const { return floatingForm_.get(); }
  void FloatSheet();
  void DockSheet();

  std::function<void(TFloatTabSheet& sender)> OnFloatTabSheet;
  std::function<void(TFloatTabSheet& sender)> OnDockTabSheet;

 private:
  friend class TFloatPageControl;
  friend class TFloatingForm;
  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void EnsureWindow(HWND parent);
  void ShowTab();
  void PaintGrip(HDC dc);
  void OnMouseDown(int x, int y);
  void OnMouseMove(int x, int y);
  void OnMouseUp();
  void DrawDragRect(POINT point);
  void CloseFloatingForm();
  GripEdge Edge() const;
  int Width() const;
  int Height() const;

  HWND hwnd_ = nullptr;
  TFloatPageControl* pageControl_ = nullptr;
  TFloatPageControl* dockTarget_ = nullptr;
  std::unique_ptr<TFloatingForm> floatingForm_;
  std::string caption_;
  bool dragable_ = false, tabVisible_ = true, tabShown_ = false;
  TGripAlign gripAlign_ = TGripAlign::gaLeft;
  int imageIndex_ = -1;
  bool pressed_ = false, dragging_ = false, floating_ = false;
  POINT pressPoint_ = {}, lastPoint_ = {};
  SIZE dragSize_ = {};
  RECT floatRect_ = {};
};

}  // namespace vk::widgets
