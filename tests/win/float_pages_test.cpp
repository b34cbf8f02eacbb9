// The page control with floating sheets in a window of the test's own: tearing off
// with the real mouse, docking back by closing, the order of pages and events, tab
// selection with its veto, and the drawing of the tabs.
#include "widgets/float_pages.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "task_dialogs_test_util.h"
#include "win/application.h"
#include "win/form.h"

namespace {

using namespace vk::widgets;

class Host : public vk::win::Form {
 public:
  Host() { CreateForm("Seiten", 420, 300); }
};

// Pumps this thread's messages until `done` holds (or a generous bound has passed).
template <class Done>
bool PumpUntil(Done done) {
  for (int i = 0; i < 500 && !done(); ++i) {
    vk::win::App().ProcessMessages();
    if (!done()) Sleep(5);
  }
  return done();
}

// Real mouse input, at screen coordinates.
void Mouse(DWORD flags, POINT screen) {
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  INPUT in = {};
  in.type = INPUT_MOUSE;
  in.mi.dx = static_cast<LONG>((screen.x * 65536LL + w - 1) / w);
  in.mi.dy = static_cast<LONG>((screen.y * 65536LL + h - 1) / h);
  in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &in, sizeof in);
  vk::win::App().ProcessMessages();
}

POINT ScreenPoint(HWND window, int x, int y) {
  POINT p = {x, y};
  ClientToScreen(window, &p);
  return p;
}

class FloatPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vk::win::App().Initialize(GetModuleHandleA(nullptr));
    host_ = std::make_unique<Host>();
    control_.Create(host_->Handle(), 50, 10, 10, 300, 220);
    control_.OnFloatTabSheet = [this](TFloatPageControl&) { events_.push_back("control floated"); };
    control_.OnDockTabSheet = [this](TFloatPageControl&) { events_.push_back("control docked"); };
    for (int i = 0; i < 4; ++i) {
      TFloatTabSheet& sheet = sheets_[i];
      sheet.SetCaption(kNames[i]);
      sheet.SetDragable(true);
      sheet.SetPageControl(&control_);
      sheet.OnFloatTabSheet = [this](TFloatTabSheet& s) { events_.push_back(s.Caption() + " floated"); };
      sheet.OnDockTabSheet = [this](TFloatTabSheet& s) { events_.push_back(s.Caption() + " docked"); };
    }
    control_.SetActivePage(&sheets_[0]);
    host_->Show();
    host_->Repaint();
    vk::win::App().ProcessMessages();
  }

  std::vector<std::string> PageOrder() const {
    std::vector<std::string> names;
    for (int i = 0; i < control_.PageCount(); ++i) names.push_back(control_.Pages(i)->Caption());
    return names;
  }
  std::vector<std::string> TabTexts() const {
    std::vector<std::string> texts;
    for (int i = 0; i < control_.Tabs().Count(); ++i) texts.push_back(control_.Tabs().Get(i));
    return texts;
  }
  std::vector<int> TabImages() const {
    std::vector<int> images;
    for (int i = 0; i < control_.Tabs().Count(); ++i) images.push_back(control_.Tabs().Image(i));
    return images;
  }
  std::string Active() const {
    return control_.ActivePage() ? control_.ActivePage()->Caption() : "";
  }
  // Closes the sheet's floating window with its close box's command.
  void CloseFloating(TFloatTabSheet& sheet) {
    ASSERT_NE(sheet.FloatingForm(), nullptr);
    SendMessageA(sheet.FloatingForm()->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  }
  // Presses the left button at (x, y) of the sheet, moves by (dx, dy) in small steps,
  // and lets go there.
  void Drag(TFloatTabSheet& sheet, int x, int y, int dx, int dy) {
    const POINT start = ScreenPoint(sheet.Handle(), x, y);
    Mouse(0, start);
    Mouse(MOUSEEVENTF_LEFTDOWN, start);
    const int steps = 4;
    for (int i = 1; i <= steps; ++i)
      Mouse(0, {start.x + dx * i / steps, start.y + dy * i / steps});
    Mouse(MOUSEEVENTF_LEFTUP, {start.x + dx, start.y + dy});
    PumpUntil([&] { return GetCapture() == nullptr; });
  }

  static constexpr const char* kNames[4] = {"Eins", "Zwei", "Drei", "Vier"};
  std::unique_ptr<Host> host_;
  TFloatPageControl control_;
  TFloatTabSheet sheets_[4];
  std::vector<std::string> events_;
};

TEST_F(FloatPagesTest, DraggingTheGripTearsTheSheetOffAndClosingDocksItBack) {
  TFloatTabSheet& first = sheets_[0];
  RECT client = first.ClientRect();  // the grip on the left: the whole sheet
  RECT sheetRect;
  GetClientRect(first.Handle(), &sheetRect);
  EXPECT_EQ(client.right, sheetRect.right);
  const POINT press = ScreenPoint(first.Handle(), 3, 10);
  Drag(first, 3, 10, 120, 60);

  ASSERT_TRUE(first.Floating());
  ASSERT_NE(first.FloatingForm(), nullptr);
  HWND floating = first.FloatingForm()->Handle();
  RECT window, inside;
  GetWindowRect(floating, &window);
  GetClientRect(floating, &inside);
  EXPECT_EQ(window.left, press.x + 120 - 3);
  EXPECT_EQ(window.top, press.y + 60 - 10);
  EXPECT_EQ(inside.right, client.right);
  EXPECT_EQ(inside.bottom, client.bottom);
  EXPECT_EQ(GetParent(first.Handle()), floating);
  EXPECT_TRUE(GetWindowLongA(floating, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_TRUE(GetWindowLongA(floating, GWL_STYLE) & WS_THICKFRAME);
  EXPECT_EQ(events_, (std::vector<std::string>{"control floated", "Eins floated"}));
  EXPECT_EQ(TabTexts(), (std::vector<std::string>{"Zwei", "Drei", "Vier"}));
  EXPECT_EQ(Active(), "Zwei");  // the first remaining sheet with a tab
  EXPECT_TRUE(first.GripRect().right == 0);  // no grip while floating

  events_.clear();
  CloseFloating(first);
  EXPECT_FALSE(first.Floating());
  EXPECT_EQ(first.FloatingForm(), nullptr);
  EXPECT_FALSE(IsWindow(floating));
  EXPECT_EQ(events_, (std::vector<std::string>{"control docked", "Eins docked"}));
  EXPECT_EQ(Active(), "Eins");
  EXPECT_EQ(first.PageControl(), &control_);
}

TEST_F(FloatPagesTest, SmallMovesAndPressesAwayFromTheHandleFloatNothing) {
  Drag(sheets_[0], 3, 10, 3, 3);  // not more than 3 pixels
  EXPECT_FALSE(sheets_[0].Floating());
  Drag(sheets_[0], 3, 19, 100, 100);  // one pixel beyond the handle's reach
  EXPECT_FALSE(sheets_[0].Floating());
  Drag(sheets_[0], 8, 10, 100, 100);  // beside the strip
  EXPECT_FALSE(sheets_[0].Floating());
  sheets_[0].SetDragable(false);
  Drag(sheets_[0], 3, 10, 100, 100);
  EXPECT_FALSE(sheets_[0].Floating());
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(control_.PageCount(), 4);
}

TEST_F(FloatPagesTest, DockedSheetsFindTheirPlaceByStaticPageIndex) {
  for (int i = 0; i < 4; ++i) sheets_[i].StaticPageIndex = i;
  sheets_[1].FloatSheet();
  sheets_[3].FloatSheet();
  EXPECT_EQ(PageOrder(), (std::vector<std::string>{"Eins", "Drei"}));
  CloseFloating(sheets_[3]);
  CloseFloating(sheets_[1]);
  EXPECT_EQ(PageOrder(), (std::vector<std::string>{"Eins", "Zwei", "Drei", "Vier"}));
  EXPECT_EQ(TabTexts(), PageOrder());

  // Without keys a docked sheet comes last and the others keep their order.
  for (TFloatTabSheet& sheet : sheets_) sheet.StaticPageIndex = -1;
  sheets_[1].FloatSheet();
  CloseFloating(sheets_[1]);
  sheets_[0].FloatSheet();
  CloseFloating(sheets_[0]);
  EXPECT_EQ(PageOrder(), (std::vector<std::string>{"Drei", "Vier", "Zwei", "Eins"}));
  EXPECT_EQ(TabTexts(), PageOrder());
}

TEST_F(FloatPagesTest, TheLastSheetStaysUnlessRemoveLastTab) {
  for (int i = 0; i < 3; ++i) {
    // Torn off where they are; moved aside so that the mouse reaches the last one.
    sheets_[i].FloatSheet();
    SetWindowPos(sheets_[i].FloatingForm()->Handle(), nullptr, 700 + 20 * i, 600, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ASSERT_EQ(control_.PageCount(), 1);
  EXPECT_FALSE(control_.CanFloatSheet());
  Drag(sheets_[3], 3, 10, 100, 50);
  EXPECT_FALSE(sheets_[3].Floating());

  control_.RemoveLastTab = true;
  Drag(sheets_[3], 3, 10, 100, 50);
  EXPECT_TRUE(sheets_[3].Floating());
  EXPECT_EQ(control_.PageCount(), 0);
  EXPECT_EQ(control_.ActivePage(), nullptr);
  EXPECT_EQ(control_.TabIndex(), -1);
  for (TFloatTabSheet& sheet : sheets_) CloseFloating(sheet);
  EXPECT_EQ(control_.PageCount(), 4);
}

TEST_F(FloatPagesTest, OnChangingVetoesByMouseAndByCtrlTab) {
  bool allow = false;
  int changes = 0, asked = 0;
  control_.OnChanging = [&](TCustomFloatTabControl&, bool& allowChange) {
    ++asked;
    allowChange = allow;
  };
  control_.OnChange = [&](TCustomFloatTabControl&) { ++changes; };
  RECT tab;
  SendMessageA(control_.Handle(), TCM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&tab));
  const POINT onTab = ScreenPoint(control_.Handle(), (tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2);
  auto clickThirdTab = [&] {
    const int before = asked;
    Mouse(0, onTab);
    Mouse(MOUSEEVENTF_LEFTDOWN, onTab);
    Mouse(MOUSEEVENTF_LEFTUP, onTab);
    EXPECT_TRUE(PumpUntil([&] { return asked > before && GetCapture() == nullptr; }));
  };
  auto ctrlTab = [&](bool shift) {
    SetFocus(control_.Handle());
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    vk::win::App().ProcessMessages();
    keys[VK_CONTROL] = keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
  };

  clickThirdTab();
  EXPECT_EQ(Active(), "Eins");
  EXPECT_EQ(control_.TabIndex(), 0);
  ctrlTab(false);
  EXPECT_EQ(Active(), "Eins");
  EXPECT_EQ(changes, 0);

  allow = true;
  clickThirdTab();
  EXPECT_EQ(Active(), "Drei");
  EXPECT_TRUE(IsWindowVisible(sheets_[2].Handle()));
  EXPECT_FALSE(IsWindowVisible(sheets_[0].Handle()));
  ctrlTab(false);
  EXPECT_EQ(Active(), "Vier");
  ctrlTab(false);
  EXPECT_EQ(Active(), "Eins");  // round again
  ctrlTab(true);
  EXPECT_EQ(Active(), "Vier");
  sheets_[0].SetTabVisible(false);
  ctrlTab(false);
  EXPECT_EQ(Active(), "Zwei");  // a sheet without a tab is passed over
  EXPECT_EQ(changes, 5);
}

TEST_F(FloatPagesTest, PropertiesKeepTabsAcrossANewWindowAndRefuseBadValues) {
  sheets_[2].SetImageIndex(1);
  control_.SetActivePage(&sheets_[2]);
  control_.SetScrollOpposite(true);
  EXPECT_TRUE(control_.MultiLine());
  DWORD style = GetWindowLongA(control_.Handle(), GWL_STYLE);
  EXPECT_TRUE(style & TCS_MULTILINE);
  EXPECT_TRUE(style & TCS_SCROLLOPPOSITE);
  EXPECT_TRUE(style & TCS_OWNERDRAWFIXED);
  control_.SetMultiLine(false);
  EXPECT_FALSE(control_.ScrollOpposite());
  control_.SetTabPosition(TFloatTabPosition::tpBottomRight);
  control_.SetTabWidth(70);
  style = GetWindowLongA(control_.Handle(), GWL_STYLE);
  EXPECT_TRUE(style & TCS_BOTTOM);
  EXPECT_TRUE(style & TCS_FIXEDWIDTH);
  EXPECT_FALSE(style & TCS_MULTILINE);
  // The texts, their sheets and the selection came through every new window.
  EXPECT_EQ(TabTexts(), (std::vector<std::string>{"Eins", "Zwei", "Drei", "Vier"}));
  EXPECT_EQ(control_.Tabs().Object(3), &sheets_[3]);
  EXPECT_EQ(control_.TabIndex(), 2);
  EXPECT_EQ(TabImages(), (std::vector<int>{-1, -1, 1, -1}));  // at once, from the old window

  sheets_[1].SetTabVisible(false);
  EXPECT_EQ(sheets_[1].VisibleTabIndex(), -1);
  EXPECT_EQ(sheets_[2].VisibleTabIndex(), 1);
  EXPECT_EQ(sheets_[1].PageIndex(), 1);
  sheets_[1].SetTabVisible(true);
  EXPECT_EQ(TabTexts(), (std::vector<std::string>{"Eins", "Zwei", "Drei", "Vier"}));

  try {
    control_.SetTabHeight(-1);
    ADD_FAILURE() << "a negative height was taken";
  } catch (const EPropertyError& e) {
    EXPECT_STREQ(e.what(), "Eigenschaft TFloatPageControl außerhalb des gültigen Bereichs");
  }
  try {
    sheets_[0].SetPageIndex(4);
    ADD_FAILURE() << "a page index beyond the last was taken";
  } catch (const EPropertyError& e) {
    EXPECT_STREQ(e.what(), "4 ist ein ungültiger Wert für PageIndex. PageIndex muß zwischen 0 und 3 liegen");
  }
  sheets_[0].SetPageIndex(3);
  EXPECT_EQ(TabTexts(), (std::vector<std::string>{"Zwei", "Drei", "Vier", "Eins"}));
}

TEST(FloatPagesLifetime, AFloatingSheetOutlivesItsPageControl) {
  vk::win::App().Initialize(GetModuleHandleA(nullptr));
  Host host;
  TFloatTabSheet sheet, other;
  {
    TFloatPageControl control;
    control.Create(host.Handle(), 50, 10, 10, 300, 220);
    sheet.SetPageControl(&control);
    other.SetPageControl(&control);
    sheet.FloatSheet();
    ASSERT_TRUE(sheet.Floating());
  }
  EXPECT_EQ(other.PageControl(), nullptr);
  SendMessageA(sheet.FloatingForm()->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);  // nowhere to dock
  EXPECT_FALSE(sheet.Floating());
  EXPECT_EQ(sheet.PageControl(), nullptr);
  EXPECT_EQ(sheet.FloatingForm(), nullptr);
}

// A picture of `width` x `height` pixels in a bitmap of its own.
class Picture {
 public:
  Picture(int width, int height) : rect_{0, 0, width, height} {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    old_ = SelectObject(dc_, bitmap_);
  }
  ~Picture() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC Dc() const { return dc_; }
  COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }
  // The bounding box of every pixel of that colour.
  RECT Ink(COLORREF color) const {
    RECT box = {rect_.right, rect_.bottom, -1, -1};
    for (int y = 0; y < rect_.bottom; ++y)
      for (int x = 0; x < rect_.right; ++x)
        if (At(x, y) == color) {
          box.left = std::min<LONG>(box.left, x);
          box.top = std::min<LONG>(box.top, y);
          box.right = std::max<LONG>(box.right, x + 1);
          box.bottom = std::max<LONG>(box.bottom, y + 1);
        }
    return box;
  }

 protected:
  RECT rect_;

 private:
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
};

// Tab `index` drawn in the given font.
class TabPicture : public Picture {
 public:
  TabPicture(TCustomFloatTabControl& control, int index, int width, int height,
             HFONT font = vk::win::Form::ArialFont(13, false))
      : Picture(width, height) {
    SendMessageA(control.Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    control.DrawTab(Dc(), index, rect_);
  }
};

int CALLBACK KeepRasterFont(const LOGFONTA* font, const TEXTMETRICA*, DWORD type, LPARAM out) {
  if (!(type & RASTER_FONTTYPE)) return 1;
  *reinterpret_cast<LOGFONTA*>(out) = *font;
  return 0;
}

// The first font that is not TrueType (Wine's own bitmap fonts are installed with it).
LOGFONTA RasterFont() {
  LOGFONTA wanted = {};
  wanted.lfCharSet = ANSI_CHARSET;
  LOGFONTA found = {};
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExA(screen, &wanted, KeepRasterFont, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found;
}

// One picture of side x side pixels, all red.
HIMAGELIST RedPictures(int side = 8) {
  HIMAGELIST images = ImageList_Create(side, side, ILC_COLOR24, 1, 0);
  Picture red(side, side);
  HBRUSH brush = CreateSolidBrush(RGB(255, 0, 0));
  RECT all = {0, 0, side, side};
  FillRect(red.Dc(), &all, brush);
  DeleteObject(brush);
  HBITMAP copy = static_cast<HBITMAP>(CopyImage(GetCurrentObject(red.Dc(), OBJ_BITMAP), IMAGE_BITMAP, 0, 0, 0));
  ImageList_Add(images, copy, nullptr);
  DeleteObject(copy);
  return images;
}

TEST_F(FloatPagesTest, TabsShowTheirPictureTheHotTabAndTextOnItsSide) {
  HIMAGELIST images = RedPictures();
  control_.SetImages(images);
  sheets_[1].SetImageIndex(0);
  const COLORREF text = GetSysColor(COLOR_BTNTEXT), hot = GetSysColor(COLOR_HIGHLIGHT);
  {
    // Picture at the left, centred in height: (0, 30 / 2 - 8 / 2) = (0, 11).
    TabPicture tab(control_, 1, 80, 30);
    EXPECT_EQ(tab.Ink(RGB(255, 0, 0)), (RECT{0, 11, 8, 19}));
    const RECT ink = tab.Ink(text);
    EXPECT_GE(ink.left, 8 + 1);  // the text is centred in what the picture leaves
    EXPECT_GT(ink.right, ink.left);
  }
  // The hot tab's text is in the highlight colour; HotTrack off never has one.
  control_.SetHotTrack(true);
  RECT tabRect;
  SendMessageA(control_.Handle(), TCM_GETITEMRECT, 3, reinterpret_cast<LPARAM>(&tabRect));
  SendMessageA(control_.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(tabRect.left + 3, tabRect.top + 3));
  EXPECT_EQ(control_.HotTab(), 3);
  {
    TabPicture hotTab(control_, 3, 80, 30), otherTab(control_, 2, 80, 30);
    EXPECT_GT(hotTab.Ink(hot).right, 0);
    EXPECT_EQ(hotTab.Ink(text).right, -1);
    EXPECT_EQ(otherTab.Ink(hot).right, -1);
  }
  control_.SetHotTrack(false);
  SendMessageA(control_.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(tabRect.left + 3, tabRect.top + 3));
  EXPECT_EQ(control_.HotTab(), -1);

  // Vertical text: the ink stands upright, centred in the tab, in a font that turns
  // and in one that does not (a bitmap font, drawn flat and turned as a picture).
  control_.SetTextRotation(TTextRotation::trVertical);
  const LOGFONTA raster = RasterFont();
  ASSERT_NE(raster.lfFaceName[0], '\0') << "no bitmap font installed";
  HFONT bitmapFont = CreateFontIndirectA(&raster);
  for (HFONT font : {vk::win::Form::ArialFont(13, false), bitmapFont}) {
    TabPicture across(control_, 2, 30, 80, font);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(across.Dc(), &metrics);
    const bool trueType = metrics.tmPitchAndFamily & TMPF_TRUETYPE;
    SCOPED_TRACE(trueType ? "TrueType" : "bitmap font");
    EXPECT_EQ(trueType, font != bitmapFont);
    const RECT ink = across.Ink(text);
    EXPECT_GT(ink.bottom - ink.top, 2 * (ink.right - ink.left));
    EXPECT_NEAR((ink.top + ink.bottom) / 2, 40, 3);
    EXPECT_NEAR((ink.left + ink.right) / 2, 15, 4);
  }

  std::vector<std::string> drawn;
  control_.OnDrawTab = [&](TCustomFloatTabControl&, HDC target, const std::string& caption, int index,
                           const RECT& r) {
    drawn.push_back(caption + "@" + std::to_string(index));
    FillRect(target, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  };
  TabPicture replaced(control_, 1, 80, 30);
  EXPECT_EQ(drawn, std::vector<std::string>{"Zwei@1"});
  EXPECT_EQ(replaced.Ink(RGB(255, 0, 0)).right, -1);  // no default picture
  EXPECT_EQ(replaced.Ink(RGB(0, 0, 0)), (RECT{0, 0, 80, 30}));
  control_.SetImages(nullptr);
  ImageList_Destroy(images);
  DeleteObject(bitmapFont);
}

TEST_F(FloatPagesTest, CaptionsAndPicturesReachTheirTabsThroughANewWindowAndADock) {
  HIMAGELIST images = RedPictures();
  control_.SetImages(images);
  sheets_[1].SetImageIndex(0);
  sheets_[3].SetImageIndex(0);
  sheets_[1].SetCaption("Zwo");
  sheets_[2].SetTabVisible(false);
  sheets_[2].SetCaption("Drei!");  // without a tab now, with one later
  sheets_[2].SetTabVisible(true);
  char text[16] = {};
  GetWindowTextA(sheets_[1].Handle(), text, sizeof text);
  EXPECT_STREQ(text, "Zwo");
  auto pictured = [&] {  // which tabs show the red picture
    std::vector<bool> red;
    for (int i = 0; i < control_.Tabs().Count(); ++i)
      red.push_back(TabPicture(control_, i, 80, 30).Ink(RGB(255, 0, 0)).right > 0);
    return red;
  };
  const std::vector<bool> expected = {false, true, false, true};
  control_.SetButtonStyle(true);  // a new tab window; its refresh is posted
  MSG refresh;
  EXPECT_TRUE(PumpUntil([&] {
    return !PeekMessageA(&refresh, control_.Handle(), kRefreshImages, kRefreshImages, PM_NOREMOVE);
  }));
  EXPECT_EQ(TabTexts(), (std::vector<std::string>{"Eins", "Zwo", "Drei!", "Vier"}));
  EXPECT_EQ(pictured(), expected);
  sheets_[3].FloatSheet();
  sheets_[3].SetCaption("Vier?");  // while floating
  CloseFloating(sheets_[3]);
  EXPECT_EQ(TabTexts(), (std::vector<std::string>{"Eins", "Zwo", "Drei!", "Vier?"}));
  EXPECT_EQ(pictured(), expected);
  control_.SetImages(nullptr);
  ImageList_Destroy(images);
}

TEST_F(FloatPagesTest, TheFocusFollowsIntoTheNewPage) {
  HWND boxes[2];
  for (int i = 0; i < 2; ++i)
    boxes[i] = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 20, 20, 80, 21,
                               sheets_[i].Handle(), nullptr, nullptr, nullptr);
  SetFocus(boxes[0]);
  control_.SetActivePage(&sheets_[1]);
  EXPECT_EQ(GetFocus(), boxes[1]);
  control_.SetActivePage(&sheets_[2]);  // nothing there takes the focus: the tabs do
  EXPECT_EQ(GetFocus(), control_.Handle());
  control_.SetActivePage(&sheets_[1]);  // the focus was not in the page: it stays
  EXPECT_EQ(GetFocus(), control_.Handle());
}

TEST_F(FloatPagesTest, TheGripIsDrawnAlongItsEdge) {
  const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT), mark = GetSysColor(COLOR_ACTIVECAPTION);
  RECT area;
  GetClientRect(sheets_[0].Handle(), &area);
  const int w = area.right, h = area.bottom;
  struct Case {
    TGripAlign align;
    POINT first, beside;  // the first mark's light pixel, and one of its marked neighbours
  };
  const Case cases[] = {{TGripAlign::gaLeft, {0, 0}, {1, 0}},
                        {TGripAlign::gaRight, {w - 5, h - 1}, {w - 4, h - 1}},
                        {TGripAlign::gaTop, {w - 1, 0}, {w - 1, 1}},
                        {TGripAlign::gaBottom, {0, h - 5}, {0, h - 4}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.align));
    sheets_[0].SetGripAlign(c.align);
    Picture picture(w, h);
    FillRect(picture.Dc(), &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SendMessageA(sheets_[0].Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(picture.Dc()), PRF_CLIENT);
    EXPECT_EQ(picture.At(c.first.x, c.first.y), light);
    EXPECT_EQ(picture.At(c.beside.x, c.beside.y), mark);
    const RECT grip = sheets_[0].GripRect();
    EXPECT_EQ(picture.At((grip.left + grip.right) / 2, (grip.top + grip.bottom) / 2),
              GetSysColor(COLOR_BTNFACE));  // the strip is filled beyond its marks
  }
  sheets_[0].SetDragable(false);
  Picture plain(w, h);
  FillRect(plain.Dc(), &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  SendMessageA(sheets_[0].Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(plain.Dc()), PRF_CLIENT);
  EXPECT_EQ(plain.At(w - 1, h - 5), RGB(0, 0, 0));
}

TEST_F(FloatPagesTest, AFloatingWindowDestroyedFromOutsideDocksItsSheet) {
  HWND box = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 20, 20, 80, 21,
                             sheets_[1].Handle(), nullptr, nullptr, nullptr);
  sheets_[1].FloatSheet();
  DestroyWindow(sheets_[1].FloatingForm()->Handle());
  EXPECT_FALSE(sheets_[1].Floating());
  EXPECT_EQ(sheets_[1].FloatingForm(), nullptr);
  EXPECT_EQ(sheets_[1].PageControl(), &control_);
  EXPECT_TRUE(IsWindow(box)) << "the page keeps its controls";
  EXPECT_EQ(GetParent(sheets_[1].Handle()), host_->Handle());
  sheets_[1].FloatSheet();  // the next tear-off gets a window of its own
  ASSERT_NE(sheets_[1].FloatingForm(), nullptr);
  EXPECT_TRUE(IsWindowVisible(sheets_[1].FloatingForm()->Handle()));
  EXPECT_EQ(GetParent(sheets_[1].Handle()), sheets_[1].FloatingForm()->Handle());
}

TEST(FloatPagesLifetime, AFloatingSheetGoesBackWhenItsOwnerIsDestroyed) {
  vk::win::App().Initialize(GetModuleHandleA(nullptr));
  TFloatPageControl control;
  TFloatTabSheet sheet, other;
  {
    Host host;
    control.Create(host.Handle(), 50, 10, 10, 300, 220);
    sheet.SetPageControl(&control);
    other.SetPageControl(&control);
    sheet.FloatSheet();
    ASSERT_TRUE(sheet.Floating());
  }
  EXPECT_FALSE(sheet.Floating());
  EXPECT_EQ(sheet.FloatingForm(), nullptr);
  EXPECT_EQ(sheet.PageControl(), &control);
  EXPECT_EQ(sheet.Handle(), nullptr);
}

TEST_F(FloatPagesTest, EveryCaptionFitsItsTabWithTheDialogsPadding) {
  // The settings dialog's tabs: 8-point Arial, 16-pixel pictures on three of them, the
  // padding cut to 2 so that the four fit its width.
  HIMAGELIST images = RedPictures(16);
  const char* captions[] = {"Allgemein", "Verzeichnisse", "Sicherungen", "Automation"};
  HFONT font = vk::win::Form::ArialFont(11, false);
  SendMessageA(control_.Handle(), TCM_SETPADDING, 0, MAKELPARAM(2, 3));
  SendMessageA(control_.Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  control_.SetImages(images);
  for (int i = 0; i < 4; ++i) {
    sheets_[i].SetCaption(captions[i]);
    sheets_[i].SetImageIndex(i == 0 ? -1 : 0);
  }
  const COLORREF text = GetSysColor(COLOR_BTNTEXT);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(captions[i]);
    RECT tab;
    SendMessageA(control_.Handle(), TCM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&tab));
    // What the tab control leaves a tab that is not selected: 2 pixels at the left, 3
    // at the right.
    TabPicture inTab(control_, i, tab.right - tab.left - 5, 30, font);
    TabPicture roomy(control_, i, 200, 30, font);
    const RECT ink = inTab.Ink(text), whole = roomy.Ink(text);
    EXPECT_EQ(ink.right - ink.left, whole.right - whole.left) << "the text is cut";
    EXPECT_EQ(inTab.Ink(RGB(255, 0, 0)).right, i == 0 ? -1 : 16);
    EXPECT_GT(ink.left, i == 0 ? 0 : 16);
  }
  control_.SetImages(nullptr);
  ImageList_Destroy(images);
}

}  // namespace
