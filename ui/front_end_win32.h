// The installer's windows and what they share: the front end's state (owned by the program
// entry), the host the engine talks to, and the dialog procedures of the four windows.
#pragma once
#include <windows.h>

#include <array>

#include "engine/engine.h"
#include "player/mod_player.h"
#include "player/wave_output.h"
#include "ui/buttons.h"
#include "ui/palette_dib.h"
#include "ui/ticker.h"
#include "ui/win32_gdi.h"

namespace korvane::ui {

// Private window message 1997 to the progress window: (0, 0) asks it to repaint from the job,
// (1, result) tells it that the job has ended. Always sent, never posted: the worker goes on
// only once the window has read the job.
inline constexpr UINT MSG_JOB_PROGRESS = 1997;

// The engine's view of the installer: what it tells and asks becomes the installer's message
// boxes (ui/engine_boxes.h), progress a MSG_JOB_PROGRESS to the progress window. The status
// hook shows nothing.
class Win32Host final : public Host {
 public:
  void Tell(Notice notice, const char* subject) override;
  bool Ask(Question question, const char* subject) override;
  void ShowProgress() override;
  void ReportStatus(Status status) override;

  // The running job's progress window, which owns the boxes; null while none is open.
  HWND ProgressWindow = nullptr;
};

struct NfoViewerArgs {
  const char* FileName = nullptr;
  HWND Owner = nullptr;
};

class ProgressWindow;

// Everything of the front end that lives for the whole run. The program entry owns the one
// instance and hands it to the main window; the other windows reach it through the
// arguments they are created with.
struct FrontEnd {
  HINSTANCE Instance = nullptr;
  HWND MainWindow = nullptr;
  ExtractionJob& Job;
  ModPlayer& Player;
  WaveOutput Music;  // plays Player while the main window is open
  Win32Host Host;
  // The reader and the decompression state; a solid archive's dictionary lives in it from
  // entry to entry.
  Extraction Engine{Host};
  PaletteHandle Palette;
  PaletteDib Background;
  std::array<ImageButton, kButtonCount> Buttons;
  CaptionTicker Ticker;
  NfoViewerArgs NfoArgs;
  // The progress window of the job that runs, if any; one job at a time.
  ProgressWindow* RunningJob = nullptr;
  // The user closed the main window while a job's box was up; it closes when that is done.
  bool CloseRequested = false;
  // What the running install has changed, until it ends well (kept) or the user undoes it.
  InstallJournal Journal;

  FrontEnd(ExtractionJob& job, ModPlayer& player) : Job(job), Player(player), Music(player) {}
};

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK NfoViewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Runs the destination dialog; nonzero when the user confirmed a directory, which is then
// in job.DestinationDir ending in a backslash.
BOOL SelectDestination(FrontEnd& frontEnd);

// Opens the progress window for the job the main window has filled in and starts its worker.
// Returns false when no job was started (one runs already, or the window or thread failed).
bool StartJob(FrontEnd& frontEnd);
// Stops the running job, if any: sets Abort, waits for the worker to end while answering
// its messages, and closes the progress window. Used when the main window closes.
void StopRunningJob(FrontEnd& frontEnd);
// True while the running job's progress window shows its outcome or abort box.
bool JobInsideBox(const FrontEnd& frontEnd);

}  // namespace korvane::ui
