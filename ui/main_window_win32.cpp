// Program entry and the main window: picture, picture buttons, scrolling caption, music,
// and the click actions that open every other window.
#include "ui/front_end_win32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ui/resource.h"
#include "ui/texts.h"

namespace korvane::ui {
namespace {

constexpr UINT_PTR TIMER_CAPTION = 1997;
constexpr UINT kCaptionPeriodMs = 150;
constexpr std::size_t kArchiveNameChars = 14;
// The installer has always read its directory with this limit, terminator included; a
// directory that does not fit is not restored after the destination dialog.
constexpr DWORD kSavedDirectorySize = 1021;

FrontEnd* StateOf(HWND window) { return reinterpret_cast<FrontEnd*>(GetWindowLongPtrA(window, DWLP_USER)); }

// The first volume's name: the resource up to its first space, at most 14 characters.
// The engine rewrites ArchiveName as it moves through the volumes, so every job sets it anew.
std::string ArchiveNameFromResource(FrontEnd& fe) {
  const auto bytes = LoadRcData(fe.Instance, IDR_ARCHIVE_NAME);
  std::string name;
  for (std::size_t i = 0; i < bytes.size() && i < kArchiveNameChars && bytes[i] != ' '; ++i)
    name.push_back(static_cast<char>(bytes[i]));
  return name;
}

std::int32_t VolumeCountFromResource(FrontEnd& fe) {
  const auto digits = LoadRcData(fe.Instance, IDR_VOLUME_COUNT);
  // The resource has no terminator; copy it into a string of its own before converting.
  std::string text(reinterpret_cast<const char*>(digits.data()), digits.size() < 16 ? digits.size() : 16);
  return static_cast<std::int32_t>(std::atoi(text.c_str()));
}

void DrawButton(FrontEnd& fe, const ImageButton& button, DrawRequest request) {
  if (request == DrawRequest::None) return;
  WindowDc dc(fe.MainWindow);
  PaletteSelection selection(dc.Get(), fe.Palette.Get());
  DrawDib(dc.Get(), button.Images[static_cast<std::size_t>(request)], button.Screen);
}

void UpdateButtonLayout(FrontEnd& fe) {
  RECT client{};
  GetClientRect(fe.MainWindow, &client);
  const auto rects = LayoutButtons(client.right - client.left, client.bottom - client.top);
  for (std::size_t i = 0; i < kButtonCount; ++i) fe.Buttons[i].Screen = rects[i];
}

void PaintMainWindow(FrontEnd& fe, HDC dc) {
  RECT client{};
  GetClientRect(fe.MainWindow, &client);
  PaletteSelection selection(dc, fe.Palette.Get());
  DrawDib(dc, fe.Background, ScreenRect{0, 0, client.right - client.left, client.bottom - client.top});
  // States are left alone: every button shows Normal until the mouse moves again.
  for (const ImageButton& button : fe.Buttons) DrawDib(dc, button.Images[kNormalImage], button.Screen);
}

void InitMainWindow(HWND window, FrontEnd& fe) {
  SendMessageA(window, WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(LoadIconA(fe.Instance, MAKEINTRESOURCEA(IDI_KORVANE))));
  fe.MainWindow = window;
  fe.Ticker.StartIndex = 0;
  PrepareJob(fe.Job, JobMode::kTest, ArchiveNameFromResource(fe), "");
  fe.Job.VolumeCount = VolumeCountFromResource(fe);
  FillCaptionTicker(fe.Ticker, LoadRcData(fe.Instance, IDR_CAPTION_TEXT));
  SetTimer(window, TIMER_CAPTION, kCaptionPeriodMs, nullptr);

  PcxPicture picture;
  if (LoadPcxResource(fe.Instance, IDR_MAIN_PICTURE, picture)) {
    fe.Palette = CreatePcxPalette(picture.Palette);
    fe.Background = PaletteDib(kBackgroundWidth, kBackgroundHeight);
    MapDibColors(fe.Background, picture.Palette, fe.Palette.Get());
    CopyPictureRect(fe.Background, picture.Pixels, 4, 0, 300, 300, kMainPictureRow);
    for (std::size_t id = 0; id < kButtonCount; ++id) {
      for (int kind = 0; kind < 3; ++kind) {
        const PictureRect& s = kButtonSources[id][std::size_t(kind)];
        SetButtonSource(kind, fe.Buttons[id], s.X1, s.Y1, s.X2, s.Y2);
      }
    }
    const HPALETTE handle = fe.Palette.Get();
    for (ImageButton& button : fe.Buttons) {
      for (int kind = 0; kind < 3; ++kind) {
        BuildButtonImage(kind, button, picture.Pixels, picture.Palette,
                         [handle](std::uint8_t r, std::uint8_t g, std::uint8_t b) {
                           const UINT index = GetNearestPaletteIndex(handle, PALETTERGB(r, g, b));
                           return static_cast<std::uint16_t>(index == CLR_INVALID ? 0 : index);
                         });
      }
    }
  }
  UpdateButtonLayout(fe);
  // picture's pixels go with it here; the palette and the images stay.

  LoadModule(fe.Player, LoadRcData(fe.Instance, IDR_MODULE));
  StartMusic(fe.Music);
}

void OpenNfoViewer(FrontEnd& fe) {
  fe.NfoArgs.FileName = "korvane.nfo";
  fe.NfoArgs.Owner = fe.MainWindow;
  CreateDialogParamA(fe.Instance, MAKEINTRESOURCEA(IDD_NFO_VIEWER), fe.MainWindow, NfoViewerProc,
                     reinterpret_cast<LPARAM>(&fe.NfoArgs));
}

void StartTest(FrontEnd& fe) {
  // One job at a time: the record and the progress window's state are shared.
  if (fe.RunningJob) return;
  PrepareJob(fe.Job, JobMode::kTest, ArchiveNameFromResource(fe), "");
  StartJob(fe);
}

// Before anything is written: do the files fit at the destination? If not, the user decides.
bool EnoughSpaceOrInstallAnyway(FrontEnd& fe) {
  const SpaceCheck space = CheckFreeSpace(fe.Job.ArchiveName, fe.Job.DestinationDir);
  if (space.Fits()) return true;
  // Room for the text with two 20-digit numbers and the whole destination in it.
  char text[sizeof texts::kNoSpace + 2 * 20 + sizeof fe.Job.DestinationDir];
  std::snprintf(text, sizeof text, texts::kNoSpace,
                static_cast<unsigned long long>(SpaceCheck::Megabytes(space.Needed)),
                static_cast<unsigned long long>(space.Free >> 20), fe.Job.DestinationDir);
  return MessageBoxA(fe.MainWindow, text, texts::kNoSpaceTitle, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void StartInstall(FrontEnd& fe) {
  if (fe.RunningJob) return;
  // The file dialog walks the current directory about; the archive and the NFO file are
  // found relative to it, so it is put back whatever the user did.
  char saved[kSavedDirectorySize];
  const DWORD length = GetCurrentDirectoryA(sizeof saved, saved);
  const BOOL confirmed = SelectDestination(fe);
  if (length > 0 && length < sizeof saved) SetCurrentDirectoryA(saved);
  if (!confirmed) return;
  PrepareJob(fe.Job, JobMode::kInstall, ArchiveNameFromResource(fe), fe.Job.DestinationDir);
  if (!EnoughSpaceOrInstallAnyway(fe)) return;
  StartJob(fe);
}

void ClickActions(FrontEnd& fe, std::uint16_t x, std::uint16_t y) {
  bool clicked = false;
  // Exit first: its rectangle overlaps NFO's by two rows and a release there means Exit.
  DrawButton(fe, fe.Buttons[kExitButton], ButtonMouseUp(fe.Buttons[kExitButton], x, y, clicked));
  if (clicked) {
    SendMessageA(fe.MainWindow, WM_CLOSE, 0, 0);
    return;
  }
  DrawButton(fe, fe.Buttons[kNfoButton], ButtonMouseUp(fe.Buttons[kNfoButton], x, y, clicked));
  if (clicked) OpenNfoViewer(fe);
  DrawButton(fe, fe.Buttons[kTestButton], ButtonMouseUp(fe.Buttons[kTestButton], x, y, clicked));
  if (clicked) StartTest(fe);
  DrawButton(fe, fe.Buttons[kInstallButton], ButtonMouseUp(fe.Buttons[kInstallButton], x, y, clicked));
  if (clicked) StartInstall(fe);
}

void ShutDown(HWND window, FrontEnd& fe) {
  // A job's worker writes into the record and sends to windows that are about to go:
  // it is stopped and waited for before anything is released.
  fe.CloseRequested = false;
  StopRunningJob(fe);
  fe.Palette.Reset();
  fe.Background = PaletteDib();
  StopMusic(fe.Music);
  KillTimer(window, TIMER_CAPTION);
  for (ImageButton& button : fe.Buttons)
    for (PaletteDib& image : button.Images) image = PaletteDib();
  (FreeModule)(fe.Player);
  DestroyWindow(window);
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  FrontEnd* fe = message == WM_INITDIALOG ? reinterpret_cast<FrontEnd*>(lParam) : StateOf(window);
  if (!fe) return 0;
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(window, DWLP_USER, lParam);
      InitMainWindow(window, *fe);
      return 0;
    case WM_PAINT: {
      PaintDc dc(window);
      UpdateButtonLayout(*fe);
      PaintMainWindow(*fe, dc.Get());
      return 0;
    }
    case WM_SIZE:
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_TIMER:
      SetWindowTextA(window, StepCaptionTicker(fe->Ticker));
      return 0;
    case WM_MOUSEMOVE: {
      const auto x = static_cast<std::uint16_t>(LOWORD(lParam)), y = static_cast<std::uint16_t>(HIWORD(lParam));
      for (ImageButton& button : fe->Buttons)
        DrawButton(*fe, button, ButtonMouseMove(button, LOWORD(wParam), x, y));
      return 0;
    }
    case WM_LBUTTONDOWN: {
      const auto x = static_cast<std::uint16_t>(LOWORD(lParam)), y = static_cast<std::uint16_t>(HIWORD(lParam));
      for (ImageButton& button : fe->Buttons) DrawButton(*fe, button, ButtonMouseDown(button, x, y));
      return 0;
    }
    case WM_LBUTTONUP:
      ClickActions(*fe, static_cast<std::uint16_t>(LOWORD(lParam)), static_cast<std::uint16_t>(HIWORD(lParam)));
      return 0;
    case WM_CLOSE:
      if (JobInsideBox(*fe)) {
        fe->CloseRequested = true;
        return 0;
      }
      ShutDown(window, *fe);
      return 0;
    case WM_DESTROY:
      SetWindowLongPtrA(window, DWLP_USER, 0);
      PostQuitMessage(0);
      return 0;
  }
  return 0;
}

}  // namespace korvane::ui

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int) {
  using namespace korvane::ui;
  // The program's single job record and music player; the front end holds the engine.
  static korvane::ExtractionJob job;
  static korvane::ModPlayer player;
  static FrontEnd frontEnd(job, player);
  frontEnd.Instance = instance;

  if (!previous) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    // The class is registered for the dialog template's sake; no window of it is made.
    windowClass.lpfnWndProc = DefDlgProcA;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_KORVANE));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = texts::kWindowClass;
    RegisterClassA(&windowClass);
  }

  // The main window runs modeless under this loop rather than inside DialogBox, so that the
  // keyboard reaches the modeless progress window too (Escape there aborts the job).
  HWND mainWindow = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc,
                                       reinterpret_cast<LPARAM>(&frontEnd));
  if (!mainWindow) return 0;
  ShowWindow(mainWindow, SW_SHOW);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    HWND active = GetActiveWindow();
    if (active && IsDialogMessageA(active, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
