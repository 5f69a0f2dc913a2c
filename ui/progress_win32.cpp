// The progress window: the worker thread that runs one job, the two gauges it paints from
// the job record, the outcome boxes and the user's abort.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "ui/front_end_win32.h"
#include "ui/gauge.h"
#include "ui/resource.h"
#include "ui/texts.h"

namespace korvane::ui {

// Private message to itself: finish closing once the worker is no longer inside a send.
constexpr UINT kMsgFinishClose = WM_APP + 1;
constexpr std::int32_t kBackgroundPictureWidth = 396;
constexpr std::int32_t kFillWidth = 24, kFillHeight = 194;

class ProgressWindow {
 public:
  ProgressWindow(FrontEnd& fe, HWND window) : Fe(fe), Job(fe.Job), Dialog(window) {}
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  BOOL Init();
  void Paint(HDC dc);
  void JobEnded(std::int32_t result);
  void UserAbort();
  void BeginClose();
  // After an install that failed or was aborted: asks whether to undo it, and does as told.
  void OfferUndo();
  // Waits until the worker thread has ended, answering the messages it sends meanwhile
  // (repaint requests, its end message, what its message boxes send to their owner).
  void WaitForWorker();
  HWND Window() const { return Dialog; }
  FrontEnd& Front() const { return Fe; }
  // True while one of the window's own boxes is up (outcome or abort): the window cannot be
  // destroyed under it, so a request to close the program waits until it is answered.
  bool InsideBox() const { return Aborting || Ending; }

 private:
  static DWORD WINAPI ExtractionThreadProc(void* parameter);
  void ReleaseImages();

  FrontEnd& Fe;
  ExtractionJob& Job;
  HWND Dialog;
  FontHandle Font;
  PaletteHandle Palette;
  PaletteDib Background;
  PaletteDib Fill;
  ScreenRect BackgroundRect{};
  KernelHandle Worker;
  bool Closing = false;
  bool Aborting = false;
  bool Ending = false;
};

namespace {

ProgressWindow* StateOf(HWND window) {
  return reinterpret_cast<ProgressWindow*>(GetWindowLongPtrA(window, DWLP_USER));
}

void DrawProgress(HDC dc, const ExtractionJob& job, const PaletteDib& background, const PaletteDib& fill,
                  HPALETTE palette, const ScreenRect& backgroundRect, HFONT font) {
  PaletteSelection selection(dc, palette);
  // The DC goes back as it came: the font is deleted when the window closes, and a DC must
  // not be left with an object selected that no longer exists.
  SavedDcState saved(dc);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(254, 254, 254));
  SelectObject(dc, font);
  SetTextAlign(dc, TA_RIGHT | TA_TOP);
  SelectObject(dc, GetStockObject(WHITE_PEN));
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DrawDib(dc, background, backgroundRect);
  // Both gauges are drawn over a fresh picture each time, so they can fall as well as rise.
  const ProgressGauges gauges = ComputeProgressGauges(job.CurrentVolume, job.VolumeCount, job.FileProgress);
  for (const GaugeGeometry* g : {&gauges.Total, &gauges.File}) {
    DrawDib(dc, fill, ScreenRect{g->FillX, g->FillY, g->FillWidth, g->FillHeight});
    POINT marker[3];
    for (int i = 0; i < 3; ++i) marker[i] = {g->Marker[std::size_t(i)].X, g->Marker[std::size_t(i)].Y};
    Polygon(dc, marker, 3);
    TextOutA(dc, g->TextRight, g->TextTop, g->Text, static_cast<int>(std::strlen(g->Text)));
  }
}

}  // namespace

DWORD WINAPI ProgressWindow::ExtractionThreadProc(void* parameter) {
  auto& self = *static_cast<ProgressWindow*>(parameter);
  const std::int32_t result = self.Fe.Engine.Run(self.Job);
  SendMessageA(self.Dialog, MSG_JOB_PROGRESS, 1, static_cast<LPARAM>(result));
  return 0;
}

BOOL ProgressWindow::Init() {
  Font = FontHandle(CreateFontA(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_STROKE_PRECIS,
                                 CLIP_STROKE_PRECIS | CLIP_LH_ANGLES, DRAFT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                 "Arial"));
  Fe.Host.ProgressWindow = Dialog;
  Job.CurrentVolume = 1;
  Job.FileProgress = 0.0f;
  PcxPicture picture;
  if (LoadPcxResource(Fe.Instance, IDR_PROGRESS_PICTURE, picture)) {
    BackgroundRect = {0, 0, kBackgroundPictureWidth, picture.Height()};
    Palette = CreatePcxPalette(picture.Palette);
    Background = PaletteDib(kBackgroundPictureWidth, picture.Height());
    MapDibColors(Background, picture.Palette, Palette.Get());
    CopyPictureRect(Background, picture.Pixels, 0, 0, kBackgroundPictureWidth, picture.Height(), picture.Width());
    Fill = PaletteDib(kFillWidth, kFillHeight);
    MapDibColors(Fill, picture.Palette, Palette.Get());
    CopyPictureRect(Fill, picture.Pixels, 400, 54, 424, 247, picture.Width());
  }
  ShowWindow(Dialog, SW_SHOW);
  // Painted now, before the worker starts: its first repaint request may be a while coming.
  UpdateWindow(Dialog);
  Worker = KernelHandle(CreateThread(nullptr, 0, ExtractionThreadProc, this, 0, nullptr));
  if (Worker) return TRUE;
  MessageBoxA(Dialog, texts::kNoThread, texts::kNoThreadTitle, MB_ICONEXCLAMATION);
  BeginClose();
  return FALSE;
}

void ProgressWindow::Paint(HDC dc) {
  if (Closing) return;
  DrawProgress(dc, Job, Background, Fill, Palette.Get(), BackgroundRect, Font.Get());
  SetDlgItemTextA(Dialog, IDC_ARCHIVE_NAME, Job.ArchiveName);
  SetDlgItemTextA(Dialog, IDC_CURRENT_FILE, Job.CurrentFile);
}

void ProgressWindow::JobEnded(std::int32_t result) {
  if (Closing) return;
  const AbortState abort = Job.StopReason();
  // The user's abort box is up (or about to be): it closes the window itself.
  if (abort == AbortState::kUserAborted) return;
  Ending = true;
  const bool install = Job.Mode == JobMode::kInstall;
  // Entries that failed (bad checksum, file not created, ...) make a failed job even when
  // others were processed.
  if (abort == AbortState::kRunning && result >= 1 && Job.ErrorCount == 0) {
    Job.FileProgress = 1.0f;
    Job.CurrentVolume = Job.VolumeCount + 1;
    {
      WindowDc dc(Dialog);
      Paint(dc.Get());
    }
    MessageBoxA(Dialog,
                install ? texts::kInstallDone : texts::kTestDone, texts::kOutcomeTitle, MB_ICONEXCLAMATION);
    Fe.Journal.Keep();
  } else {
    MessageBoxA(Dialog, install ? texts::kInstallFailed : texts::kTestFailed, texts::kOutcomeTitle,
                MB_ICONEXCLAMATION);
    // The engine may have given up on a volume after telling the user why.
    Job.Stop(AbortState::kRunning);
    OfferUndo();
  }
  BeginClose();
}

void ProgressWindow::OfferUndo() {
  if (Job.Mode != JobMode::kInstall || Fe.Journal.Empty()) return Fe.Journal.Keep();
  if (MessageBoxA(Dialog, texts::kUndoInstall, texts::kOutcomeTitle, MB_YESNO | MB_ICONQUESTION) != IDYES)
    return Fe.Journal.Keep();
  if (!Fe.Journal.Undo()) MessageBoxA(Dialog, texts::kUndoIncomplete, texts::kOutcomeTitle, MB_ICONEXCLAMATION);
}

void ProgressWindow::UserAbort() {
  if (Aborting || Closing) return;
  Aborting = true;
  // Abort stays set until the worker has returned, so nothing is written once the box shows.
  Job.Stop(AbortState::kUserAborted);
  WaitForWorker();
  MessageBoxA(Dialog, Job.Mode == JobMode::kInstall ? texts::kInstallAborted : texts::kTestAborted, texts::kAbortTitle,
              MB_ICONERROR);
  Job.Stop(AbortState::kRunning);
  OfferUndo();
  BeginClose();
}

void ProgressWindow::WaitForWorker() {
  while (Worker) {
    const HANDLE worker = Worker.Get();
    const DWORD woke = MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) {
      Worker.Reset();
      break;
    }
    MSG message;
    // Only sent messages are answered here; input waits until the job is over.
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

void ProgressWindow::ReleaseImages() {
  Background = PaletteDib();
  Fill = PaletteDib();
  Palette.Reset();
  Font.Reset();
}

void ProgressWindow::BeginClose() {
  if (Closing) return;
  Closing = true;
  ReleaseImages();
  ShowWindow(Dialog, SW_HIDE);
  // The worker may be inside its last send to this window; it is waited for (and the window
  // destroyed) once that send has been answered.
  PostMessageA(Dialog, kMsgFinishClose, 0, 0);
}

bool StartJob(FrontEnd& fe) {
  if (fe.RunningJob) return false;
  fe.Job.Stop(AbortState::kRunning);
  fe.Journal.Begin(std::strlen(fe.Job.DestinationDir));
  fe.Job.Journal = fe.Job.Mode == JobMode::kInstall ? &fe.Journal : nullptr;
  return CreateDialogParamA(fe.Instance, MAKEINTRESOURCEA(IDD_PROGRESS), fe.MainWindow, ProgressDialogProc,
                            reinterpret_cast<LPARAM>(&fe)) != nullptr;
}

bool JobInsideBox(const FrontEnd& fe) { return fe.RunningJob && fe.RunningJob->InsideBox(); }

void StopRunningJob(FrontEnd& fe) {
  ProgressWindow* running = fe.RunningJob;
  if (!running) return;
  fe.Job.Stop(AbortState::kUserAborted);
  running->WaitForWorker();
  fe.Job.Stop(AbortState::kRunning);
  // The program is closing: what is complete stays, as it always did.
  fe.Journal.Keep();
  DestroyWindow(running->Window());
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto& fe = *reinterpret_cast<FrontEnd*>(lParam);
    auto* state = new ProgressWindow(fe, window);
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    fe.RunningJob = state;
    return state->Init();
  }
  ProgressWindow* state = StateOf(window);
  if (!state) return 0;
  switch (message) {
    case WM_PAINT: {
      PaintDc dc(window);
      state->Paint(dc.Get());
      return 0;
    }
    case MSG_JOB_PROGRESS: {
      {
        WindowDc dc(window);
        state->Paint(dc.Get());
      }
      if (wParam == 1) state->JobEnded(static_cast<std::int32_t>(lParam));
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) state->UserAbort();
      return 0;
    case kMsgFinishClose:
      state->WaitForWorker();
      DestroyWindow(window);
      return 0;
    case WM_NCDESTROY: {
      SetWindowLongPtrA(window, DWLP_USER, 0);
      state->WaitForWorker();
      FrontEnd& fe = state->Front();
      if (fe.RunningJob == state) fe.RunningJob = nullptr;
      if (fe.Host.ProgressWindow == window) fe.Host.ProgressWindow = nullptr;
      delete state;
      if (fe.CloseRequested && fe.MainWindow) PostMessageA(fe.MainWindow, WM_CLOSE, 0, 0);
      return 0;
    }
  }
  return 0;
}

}  // namespace korvane::ui
