#include "backup/run_form.h"

#include <commctrl.h>

#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#include "win/application.h"
#include "win/handles.h"

namespace vk::backup {
namespace {

std::string g_regeditDir;
bool g_running = false;
uint64_t (*g_clock)() = nullptr;

uint64_t NowMs() { return g_clock ? g_clock() : GetTickCount64(); }

// A bitmap of the window's face colour with a picture painted on it.
template <class Paint>
HBITMAP MakeBitmap(int width, int height, Paint paint) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all = {0, 0, width, height};
  FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
  paint(dc);
  SelectObject(dc, old);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

void Polygon(HDC dc, std::vector<POINT> points, COLORREF fill, COLORREF edge) {
  win::ScopedGdiObject brush(CreateSolidBrush(fill));
  win::ScopedGdiObject pen(CreatePen(PS_SOLID, 1, edge));
  win::SelectGuard b(dc, brush.Get());
  win::SelectGuard p(dc, pen.Get());
  ::Polygon(dc, points.data(), static_cast<int>(points.size()));
}

void Line(HDC dc, std::vector<POINT> points, COLORREF color, int width) {
  win::ScopedGdiObject pen(CreatePen(PS_SOLID, width, color));
  win::SelectGuard p(dc, pen.Get());
  Polyline(dc, points.data(), static_cast<int>(points.size()));
}

// The running step: a small triangle pointing right.
HBITMAP ArrowBitmap() {
  static HBITMAP bitmap = MakeBitmap(10, 10, [](HDC dc) {
    Polygon(dc, {{2, 0}, {7, 5}, {2, 9}}, RGB(0, 0, 0), RGB(0, 0, 0));
  });
  return bitmap;
}

// A finished step: a check mark.
HBITMAP HookBitmap() {
  static HBITMAP bitmap = MakeBitmap(10, 10, [](HDC dc) {
    Line(dc, {{1, 5}, {4, 8}, {9, 1}}, RGB(0, 128, 0), 2);
  });
  return bitmap;
}

// The window's picture: an archive box with an arrow into it (backup) or out of it
// (restore).
HBITMAP RunBitmap(RunPicture picture, int width, int height) {
  return MakeBitmap(width, height, [&](HDC dc) {
    const COLORREF dark = RGB(96, 64, 16);
    int left = 4, right = width - 4, top = 15, bottom = height - 2;
    Polygon(dc, {{left, top}, {right, top}, {right, bottom}, {left, bottom}}, RGB(214, 170, 88), dark);
    Polygon(dc, {{left - 2, top - 4}, {right + 2, top - 4}, {right + 2, top}, {left - 2, top}},
            RGB(190, 140, 60), dark);
    // The zip down the middle of the box.
    int mid = width / 2;
    for (int y = top + 2; y < bottom - 1; y += 2) {
      SetPixel(dc, mid - 1, y, dark);
      SetPixel(dc, mid + 1, y + 1, dark);
    }
    const COLORREF blue = RGB(0, 64, 192);
    if (picture == RunPicture::kPack)
      Polygon(dc, {{mid - 3, 0}, {mid + 3, 0}, {mid + 3, 5}, {mid + 7, 5}, {mid, 12},
                   {mid - 7, 5}, {mid - 3, 5}},
              blue, blue);
    else
      Polygon(dc, {{mid, 0}, {mid + 7, 7}, {mid + 3, 7}, {mid + 3, 12}, {mid - 3, 12},
                   {mid - 3, 7}, {mid - 7, 7}},
              blue, blue);
  });
}

constexpr int kClientWidth = 317;
constexpr int kClientHeight = 222;

}  // namespace

bool TRunForm::Running() { return g_running; }

TRunForm::RunScope::RunScope(TRunForm& form) : busy_(form.Handle()) { g_running = true; }

TRunForm::RunScope::~RunScope() { g_running = false; }

void TRunForm::SetRegeditDirForTesting(const std::string& dir) { g_regeditDir = dir; }

void TRunForm::SetClockForTesting(uint64_t (*clock)()) { g_clock = clock; }

TRunForm::TRunForm(const std::string& caption, const std::string& intro, int pictureWidth,
                   RunPicture picture, const char* const (&steps)[kSteps], int pathLabelWidth) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  CreateForm(caption, kClientWidth, kClientHeight);

  HWND image = AddControl({"STATIC", "", idImage1, 8, 8, pictureWidth, 35, SS_BITMAP});
  SendMessageA(image, STM_SETIMAGE, IMAGE_BITMAP,
               reinterpret_cast<LPARAM>(RunBitmap(picture, pictureWidth, 35)));
  AddControl({"STATIC", intro.c_str(), idLabelIntro, 60, 12, 245, 30, SS_LEFT | SS_NOPREFIX});

  for (int i = 0; i < kSteps; ++i) {
    int y = 56 + 20 * i;
    HWND arrow = AddControl({"STATIC", "", idArrow1 + i, 16, y + 2, 10, 10, SS_BITMAP | WS_CLIPSIBLINGS});
    SendMessageA(arrow, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(ArrowBitmap()));
    HWND hook = AddControl({"STATIC", "", idHook1 + i, 16, y + 2, 10, 10, SS_BITMAP | WS_CLIPSIBLINGS});
    SendMessageA(hook, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(HookBitmap()));
    // The hook lies above the arrow: a finished step shows its hook only.
    SetWindowPos(hook, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    AddControl({"STATIC", steps[i], idStepText1 + i, 32, y, kClientWidth - 36, 14,
                SS_LEFTNOWORDWRAP | SS_NOPREFIX});
  }

  AddControl({PROGRESS_CLASSA, "", idProgressBar1, 32, 126, 253, 12, 0});
  PathLabel1.SetWrapStyle(wsNormal);
  PathLabel1.SetTransparent(true);
  PathLabel1.SetShowAccelChar(false);
  PathLabel1.SetFont(DefaultFont());
  PathLabel1.Create(Handle(), 32, 142, pathLabelWidth, 17, idPathLabel1);
  AddControl({"STATIC", "", idBevel1, 8, 178, kClientWidth - 16, 2, SS_ETCHEDHORZ});
  AddControl({"BUTTON", "Abbrechen", IDCANCEL, (kClientWidth - 75) / 2, 188, 75, 25,
              BS_PUSHBUTTON | WS_TABSTOP});

  ZipArchiver1.Verbose = false;
  ZipArchiver1.Trace = false;
  ZipArchiver1.AddCompLevel = 9;
  ZipArchiver1.OnProgress = [this](ProgressType t, const std::string& name, int size) {
    ZipArchiver1Progress(t, name, size);
  };
  // Every problem the engine reports is kept for the run's closing report.
  ZipArchiver1.OnMessage = [this](int code, const std::string& message) { EngineProblem(code, message); };
  ResetMarks();
}

namespace {
// Whether the mark itself is shown, whether or not its window is.
bool Shown(HWND control) { return (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0; }
}  // namespace

bool TRunForm::ArrowVisible(int step) const { return Shown(Item(idArrow1 + step - 1)); }

bool TRunForm::HookVisible(int step) const { return Shown(Item(idHook1 + step - 1)); }

void TRunForm::ShowArrow(int step, bool visible) {
  ShowItem(idArrow1 + step - 1, visible);
  Pump();
}

void TRunForm::ShowHook(int step, bool visible) {
  ShowItem(idHook1 + step - 1, visible);
  Pump();
}

void TRunForm::ResetMarks() {
  for (int i = 0; i < kSteps; ++i) {
    ShowItem(idArrow1 + i, false);
    ShowItem(idHook1 + i, false);
  }
  PathLabel1.SetCaption("");
  progress_ = RunProgress{};  // else the last run's file shows again before this run's first
  pace_.Restart();
  pump_.Restart();
}

void TRunForm::Pump() {
  if (Visible()) UpdateWindow(Handle());
  win::App().ProcessMessages();
}

std::string TRunForm::SlashToBackslash(std::string name) { return vk::SlashToBackslash(std::move(name)); }

void TRunForm::ZipArchiver1Progress(ProgressType type, const std::string& fileName, int fileSize) {
  switch (type) {
    case ProgressType::ptFileStart: progress_.FileStart(fileName, fileSize); break;
    case ProgressType::ptFileStep: progress_.Step(); break;
    case ProgressType::ptBatchEnd: progress_.BatchEnd(); break;
  }
  const bool end = type == ProgressType::ptBatchEnd;
  // Even asking whether input waits costs a round trip to the server and to X
  // under Wine: messages are let through at a pace, and drawn seldomer still.
  const uint64_t now = NowMs();
  // Before the first file (the engine still reads the folders) there is nothing to
  // draw yet, and the first file is drawn as it begins.
  const bool draw = !progress_.Label().empty() && pace_.Due(now, end);
  if (pump_.Due(now, draw)) draw ? DrawProgress() : Pump();
  if (end) pace_.Restart();
}

void TRunForm::DrawProgress() {
  PathLabel1.SetCaption(progress_.Label());
  HWND bar = ProgressBar();
  SendMessageA(bar, PBM_SETRANGE32, 0, progress_.Maximum());
  SendMessageA(bar, PBM_SETPOS, progress_.Position(), 0);
  Pump();
}

void TRunForm::Button1Click() {
  ZipArchiver1.Cancel = true;
  Canceled = true;
}

void TRunForm::WhileAnswering(const std::function<void(const std::atomic<bool>& stop)>& work) {
  std::atomic<bool> stop{Canceled};
  std::exception_ptr failed;
  win::ScopedHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  std::thread worker;
  if (done) {
    try {
      worker = std::thread([&] {
        try {
          work(stop);
        } catch (...) {
          failed = std::current_exception();
        }
        SetEvent(done.Get());
      });
    } catch (const std::system_error&) {
      // No thread of its own: the work runs here, the window waiting for it.
    }
  }
  if (!worker.joinable()) return work(stop);
  // Waits without polling: under Wine every look at the queue is a server call, and
  // the work's own calls wait for the same server.
  const HANDLE handles[] = {done.Get()};
  try {
    while (MsgWaitForMultipleObjects(1, handles, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
      Pump();
      if (Canceled) stop = true;
    }
  } catch (...) {
    stop = true;
    worker.join();
    throw;
  }
  worker.join();
  if (failed) std::rethrow_exception(failed);
}

void TRunForm::OnCommand(int id, int notifyCode, HWND control) {
  if (id == IDCANCEL && notifyCode == BN_CLICKED) {
    Button1Click();
    return;
  }
  Form::OnCommand(id, notifyCode, control);
}

namespace {

bool g_regeditNeedsElevation = false;
// CreateProcess's error when the program's manifest asks for rights the caller must
// first be granted (winerror.h of the toolchain does not name it).
constexpr DWORD kElevationRequired = 740;

// Starts `program` with `arguments` and waits for its end: its exit code, or -1
// with *error set when it could not be started.
int RunAndWait(const std::string& program, const std::string& arguments, DWORD flags, DWORD* error) {
  std::string line = program + " " + arguments;
  std::vector<char> commandLine(line.begin(), line.end());
  commandLine.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process = {};
  // The program is named on its own as well, so that a blank in the Windows
  // directory cannot split the command line elsewhere.
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr,
                      /*bInheritHandles=*/FALSE, flags | NORMAL_PRIORITY_CLASS,
                      /*lpEnvironment=*/nullptr, /*lpCurrentDirectory=*/nullptr, &startup, &process)) {
    *error = GetLastError();
    return -1;
  }
  win::ScopedHandle processHandle(process.hProcess);
  win::ScopedHandle threadHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}

}  // namespace

void TRunForm::SetRegeditNeedsElevationForTesting(bool needs) { g_regeditNeedsElevation = needs; }

int TRunForm::RunRegedit(const std::string& arguments, const std::string& regArguments) {
  std::string dir = g_regeditDir;
  if (dir.empty()) {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    dir = windows;
  }
  DWORD error = kElevationRequired;
  const int code = g_regeditNeedsElevation
                       ? -1
                       : RunAndWait(dir + "\\REGEDIT.EXE", arguments, CREATE_NEW_CONSOLE, &error);
  if (code != -1 || error != kElevationRequired) return code;
  // Since Vista REGEDIT asks for the highest rights, which an administrator under
  // User Account Control only gets through a prompt that CreateProcess cannot show.
  // REG.EXE runs with the caller's rights and reads and writes the same files.
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  return RunAndWait(std::string(system) + "\\reg.exe", regArguments, CREATE_NO_WINDOW, &error);
}

std::wstring Wide(const std::string& ansi) {
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  return wide;
}

int TRunForm::ExportRegistry(const std::string& file, const std::string& branch) {
  return RunRegedit("/E \"" + file + "\" \"" + branch + "\"",
                    "EXPORT \"" + branch + "\" \"" + file + "\" /y");
}

bool FileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace vk::backup
