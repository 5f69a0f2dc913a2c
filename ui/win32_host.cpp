// The engine's host in the installer.
#include "ui/engine_boxes.h"
#include "ui/front_end_win32.h"

namespace korvane::ui {
namespace {

int ShowBox(HWND progressWindow, const EngineBox& box, const char* subject) {
  char text[kPathLimit + 64];
  FormatBoxText(box, subject, text, sizeof text);
  return MessageBoxA(box.OwnedByProgress ? progressWindow : nullptr, text, box.Title, box.Style);
}

}  // namespace

void Win32Host::Tell(Notice notice, const char* subject) { ShowBox(ProgressWindow, BoxFor(notice), subject); }

bool Win32Host::Ask(Question question, const char* subject) {
  // The question's box names no file: the user answers for all of them.
  (void)subject;
  return ShowBox(ProgressWindow, BoxFor(question), nullptr) == IDOK;
}

void Win32Host::ShowProgress() {
  if (ProgressWindow) SendMessageA(ProgressWindow, MSG_JOB_PROGRESS, 0, 0);
}

void Win32Host::ReportStatus(Status) {}

}  // namespace korvane::ui
