// The engine's host in the installer.
#include "ui/front_end_win32.h"

namespace korvane::ui {

int Win32Host::ShowMessageBox(void* owner, const char* text, const char* title, std::uint32_t style) {
  return MessageBoxA(static_cast<HWND>(owner), text, title, style);
}

void Win32Host::SendProgressMessage(void* window, std::uintptr_t wParam, std::intptr_t lParam) {
  if (window) SendMessageA(static_cast<HWND>(window), MSG_JOB_PROGRESS, wParam, lParam);
}

void Win32Host::ReportStatus(const char*) {}

}  // namespace korvane::ui
