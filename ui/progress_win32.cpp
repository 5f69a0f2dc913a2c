// The progress window: the worker thread that runs one job, the two gauges it paints from
// the job record, the outcome boxes and the user's abort.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "engine/extraction.h"
#include "ui/front_end_win32.h"
#include "ui/gauge.h"
#include "ui/resource.h"

namespace korvane::ui {

// Private message to itself: finish closing once the worker is no longer inside a send.
constexpr UINT kMsgFinishClose = WM_APP + 1;
constexpr std::int32_t kBackgroundPictureWidth = 396;
constexpr std::int32_t kFillWidth = 24, kFillHeight = 194;

class ProgressWindow {
 public:
  ProgressWindow(FrontEnd& fe, HWND window) : fe_(fe), job_(fe.Job), window_(window) {}
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;
  ~ProgressWindow() { CloseWorkerHandle(); }

  BOOL Init();
  void Paint(HDC dc);
  void JobEnded(std::int32_t result);
  void UserAbort();
  void BeginClose();
  // Waits until the worker thread has ended, answering the messages it sends meanwhile
  // (repaint requests, its end message, what its message boxes send to their owner).
  void WaitForWorker();
  HWND Window() const { return window_; }
  FrontEnd& Front() const { return fe_; }
  // True while one of the window's own boxes is up (outcome or abort): the window cannot be
  // destroyed under it, so a request to close the program waits until it is answered.
  bool InsideBox() const { return aborting_ || ending_; }

 private:
  static DWORD WINAPI ExtractionThreadProc(void* parameter);
  void ReleaseImages();
  void CloseWorkerHandle() {
    if (worker_) CloseHandle(worker_);
    worker_ = nullptr;
  }

  FrontEnd& fe_;
  ExtractionJob& job_;
  HWND window_;
  FontHandle font_;
  PaletteHandle palette_;
  PaletteDib background_;
  PaletteDib fill_;
  ScreenRect backgroundRect_{};
  HANDLE worker_ = nullptr;
  bool closing_ = false;
  bool aborting_ = false;
  bool ending_ = false;
};

namespace {

ProgressWindow* StateOf(HWND window) {
  return reinterpret_cast<ProgressWindow*>(GetWindowLongPtrA(window, DWLP_USER));
}

void DrawProgress(HDC dc, const ExtractionJob& job, const PaletteDib& background, const PaletteDib& fill,
                  HPALETTE palette, const ScreenRect& backgroundRect, HFONT font) {
  PaletteSelection selection(dc, palette);
  const int previousMode = SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(254, 254, 254));
  HGDIOBJ previousFont = SelectObject(dc, font);
  SetTextAlign(dc, TA_RIGHT | TA_TOP);
  SelectObject(dc, GetStockObject(WHITE_PEN));
  SelectObject(dc, GetStockObject(WHITE_BRUSH));
  DrawDib(dc, background, backgroundRect);
  // Both gauges are drawn over a fresh picture each time, so they can fall as well as rise.
  const ProgressGauges gauges = ComputeProgressGauges(job.CurrentVolume, job.VolumeCount, job.FileProgress);
  for (const GaugeGeometry* g : {&gauges.total, &gauges.file}) {
    DrawDib(dc, fill, ScreenRect{g->fillX, g->fillY, g->fillWidth, g->fillHeight});
    POINT marker[3];
    for (int i = 0; i < 3; ++i) marker[i] = {g->marker[std::size_t(i)].x, g->marker[std::size_t(i)].y};
    Polygon(dc, marker, 3);
    TextOutA(dc, g->textRight, g->textTop, g->text, static_cast<int>(std::strlen(g->text)));
  }
  SetBkMode(dc, previousMode);
  SelectObject(dc, previousFont);
}

}  // namespace

DWORD WINAPI ProgressWindow::ExtractionThreadProc(void* parameter) {
  auto& self = *static_cast<ProgressWindow*>(parameter);
  ExtractionJob& job = self.job_;
  ArchiveReader reader(self.fe_.Host);
  const std::int32_t result = RunExtraction(reader, self.fe_.Unpack, job.ProgressWindow, job);
  SendMessageA(self.window_, MSG_JOB_PROGRESS, 1, static_cast<LPARAM>(result));
  return 0;
}

BOOL ProgressWindow::Init() {
  font_ = FontHandle(CreateFontA(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_STROKE_PRECIS,
                                 CLIP_STROKE_PRECIS | CLIP_LH_ANGLES, DRAFT_QUALITY, 0, "Arial"));
  job_.ProgressWindow = window_;
  job_.CurrentVolume = 1;
  job_.FileProgress = 0.0f;
  PcxPicture picture;
  if (LoadPcxResource(fe_.Instance, IDR_PROGRESS_PICTURE, picture)) {
    backgroundRect_ = {0, 0, kBackgroundPictureWidth, picture.Height()};
    palette_ = CreatePcxPalette(picture.Palette);
    background_ = PaletteDib(kBackgroundPictureWidth, picture.Height());
    MapDibColors(background_, picture.Palette, palette_.Get());
    CopyPictureRect(background_, picture.Pixels, 0, 0, kBackgroundPictureWidth, picture.Height(), picture.Width());
    fill_ = PaletteDib(kFillWidth, kFillHeight);
    MapDibColors(fill_, picture.Palette, palette_.Get());
    CopyPictureRect(fill_, picture.Pixels, 400, 54, 424, 247, picture.Width());
  }
  ShowWindow(window_, SW_SHOW);
  worker_ = CreateThread(nullptr, 0, ExtractionThreadProc, this, 0, nullptr);
  if (worker_) return TRUE;
  MessageBoxA(window_, "Yer machine is pretty cooked!\nCannot create x-traction thread.", "Korvane", 0x30);
  BeginClose();
  return FALSE;
}

void ProgressWindow::Paint(HDC dc) {
  if (closing_) return;
  DrawProgress(dc, job_, background_, fill_, palette_.Get(), backgroundRect_, font_.Get());
  SetDlgItemTextA(window_, IDC_ARCHIVE_NAME, job_.ArchiveName);
  SetDlgItemTextA(window_, IDC_CURRENT_FILE, job_.CurrentFile);
}

void ProgressWindow::JobEnded(std::int32_t result) {
  if (closing_) return;
  const std::int32_t abort = job_.Abort.load();
  // The user's abort box is up (or about to be): it closes the window itself.
  if (abort == kUserAborted) return;
  ending_ = true;
  const bool install = job_.Mode == 'X';
  // Entries that failed (bad checksum, file not created, ...) make a failed job even when
  // others were processed.
  if (abort == kRunning && result >= 1 && job_.ErrorCount == 0) {
    job_.FileProgress = 1.0f;
    job_.CurrentVolume = job_.VolumeCount + 1;
    {
      WindowDc dc(window_);
      Paint(dc.Get());
    }
    MessageBoxA(window_,
                install ? "The X-Traction has been sucessfully completed!"
                        : "The file TEST has been sucessfully completed!\nYou can sucessfully install this product!",
                "Korvane 98", 0x30);
  } else {
    MessageBoxA(window_, install ? "The X-Traction has failed!" : "The file TEST has failed!", "Korvane 98", 0x30);
    // The engine may have given up on a volume after telling the user why.
    job_.Abort.store(kRunning);
  }
  BeginClose();
}

void ProgressWindow::UserAbort() {
  if (aborting_ || closing_) return;
  aborting_ = true;
  // Abort stays set until the worker has returned, so nothing is written once the box shows.
  job_.Abort.store(kUserAborted);
  WaitForWorker();
  MessageBoxA(window_, job_.Mode == 'X' ? "Installation was aborted..." : "File TEST was aborted...",
              "Korvane 1998", 0x10);
  job_.Abort.store(kRunning);
  BeginClose();
}

void ProgressWindow::WaitForWorker() {
  while (worker_) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &worker_, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) {
      CloseWorkerHandle();
      break;
    }
    MSG message;
    // Only sent messages are answered here; input waits until the job is over.
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

void ProgressWindow::ReleaseImages() {
  background_ = PaletteDib();
  fill_ = PaletteDib();
  palette_.Reset();
  font_.Reset();
}

void ProgressWindow::BeginClose() {
  if (closing_) return;
  closing_ = true;
  ReleaseImages();
  ShowWindow(window_, SW_HIDE);
  // The worker may be inside its last send to this window; it is waited for (and the window
  // destroyed) once that send has been answered.
  PostMessageA(window_, kMsgFinishClose, 0, 0);
}

bool StartJob(FrontEnd& fe) {
  if (fe.RunningJob) return false;
  fe.Job.Abort.store(kRunning);
  return CreateDialogParamA(fe.Instance, MAKEINTRESOURCEA(IDD_PROGRESS), fe.MainWindow, ProgressDialogProc,
                            reinterpret_cast<LPARAM>(&fe)) != nullptr;
}

bool JobInsideBox(const FrontEnd& fe) { return fe.RunningJob && fe.RunningJob->InsideBox(); }

void StopRunningJob(FrontEnd& fe) {
  ProgressWindow* running = fe.RunningJob;
  if (!running) return;
  fe.Job.Abort.store(kUserAborted);
  running->WaitForWorker();
  fe.Job.Abort.store(kRunning);
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
      if (fe.Job.ProgressWindow == window) fe.Job.ProgressWindow = nullptr;
      delete state;
      if (fe.CloseRequested && fe.MainWindow) PostMessageA(fe.MainWindow, WM_CLOSE, 0, 0);
      return 0;
    }
  }
  return 0;
}

}  // namespace korvane::ui
