// The destination dialog: the system's old-form open-file dialog with the program's own
// template, reduced to directory list, drive list and a path field that follows them.
#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>

#include <cstdio>
#include <cstring>

#include "engine/engine.h"
#include "ui/front_end_win32.h"
#include "ui/resource.h"
#include "ui/texts.h"

namespace korvane::ui {
namespace {

constexpr WPARAM CMD_REFRESH_PATH = 2000;
// The old-form dialog's own controls, as the template lays them out.
constexpr int kDirectoryList = lst2;
constexpr int kDriveList = cmb2;
// What the hook's WM_CLOSE carries: confirm the path in the field, or leave.
constexpr LPARAM kCloseConfirm = 1;
constexpr LPARAM kCloseCancel = 0;
constexpr std::size_t kDestinationSize = sizeof(ExtractionJob{}.DestinationDir);
static_assert(kDestinationSize == 1024);
constexpr char kHookProperty[] = "KorvaneDestinationHook";

// What the hook keeps while the dialog is open; found through a window property because
// the system dialog keeps its own data in the dialog's user word.
struct DestinationHook {
  char* Destination = nullptr;
  Host* Frontend = nullptr;
  int ListFlag = 0;
  int DriveFlag = 0;
};

DestinationHook* HookOf(HWND dialog) { return static_cast<DestinationHook*>(GetPropA(dialog, kHookProperty)); }

void AppendBackslash(char* path, std::size_t size) {
  const std::size_t length = std::strlen(path);
  if ((length == 0 || path[length - 1] != '\\') && length + 1 < size) {
    path[length] = '\\';
    path[length + 1] = '\0';
  }
}

void RefreshFromCurrentDirectory(char* destination) {
  const DWORD length = GetCurrentDirectoryA(kDestinationSize, destination);
  if (length == 0 || length >= kDestinationSize) destination[0] = '\0';
  AppendBackslash(destination, kDestinationSize);
}

INT_PTR PathUpdate(HWND dialog, DestinationHook& hook, WPARAM wParam, LPARAM lParam) {
  if (hook.ListFlag == 0 && wParam != CMD_REFRESH_PATH) {
    // Let the system dialog change into the chosen directory first; come back afterwards.
    hook.ListFlag = 1;
    PostMessageA(dialog, WM_COMMAND, wParam, lParam);
    return 0;
  }
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  hook.ListFlag = 0;
  RefreshFromCurrentDirectory(hook.Destination);
  SetDlgItemTextA(dialog, IDC_PATH_FIELD, hook.Destination);
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  return 1;
}

void Confirm(HWND dialog, DestinationHook& hook) {
  char* destination = hook.Destination;
  GetDlgItemTextA(dialog, IDC_PATH_FIELD, destination, static_cast<int>(kDestinationSize - 1));
  AppendBackslash(destination, kDestinationSize);
  if (GetFileAttributesA(destination) == INVALID_FILE_ATTRIBUTES) {
    char question[kDestinationSize + 80];
    std::snprintf(question, sizeof question, texts::kCreateDirectory, destination);
    if (MessageBoxA(dialog, question, texts::kCreateDirectoryTitle, MB_OKCANCEL) == IDCANCEL) return;
    MakeDestination(*hook.Frontend, destination);
  }
  PostMessageA(dialog, WM_COMMAND, IDABORT, TRUE);
}

UINT_PTR CALLBACK DestinationHookProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const auto& open = *reinterpret_cast<const OPENFILENAMEA*>(lParam);
    auto* hook = reinterpret_cast<DestinationHook*>(open.lCustData);
    SetPropA(dialog, kHookProperty, hook);
    RefreshFromCurrentDirectory(hook->Destination);
    PostMessageA(dialog, WM_COMMAND, CMD_REFRESH_PATH, 0);
    return 1;
  }
  DestinationHook* hook = HookOf(dialog);
  if (!hook) return 0;
  switch (message) {
    case WM_COMMAND: {
      const WORD id = LOWORD(wParam), code = HIWORD(wParam);
      if (wParam == CMD_REFRESH_PATH) return PathUpdate(dialog, *hook, wParam, lParam);
      if (id == IDOK) {
        SendMessageA(dialog, WM_CLOSE, 0, kCloseConfirm);
        return 0;
      }
      if (id == IDCANCEL) {
        SendMessageA(dialog, WM_CLOSE, 0, kCloseCancel);
        return 0;
      }
      if (id == kDirectoryList && code == LBN_DBLCLK) return PathUpdate(dialog, *hook, wParam, lParam);
      if (id == kDriveList && code == CBN_SELCHANGE) {
        if (hook->DriveFlag == 0) {
          hook->DriveFlag = 1;
          PostMessageA(dialog, WM_COMMAND, wParam, lParam);
          return 0;
        }
        hook->DriveFlag = 0;
        PostMessageA(dialog, WM_COMMAND, CMD_REFRESH_PATH, 0);
        return 1;
      }
      return 0;
    }
    case WM_CLOSE:
      if (lParam == kCloseConfirm) {
        Confirm(dialog, *hook);
      } else {
        PostMessageA(dialog, WM_COMMAND, IDABORT, FALSE);
      }
      return 0;
    case WM_DESTROY:
      RemovePropA(dialog, kHookProperty);
      return 0;
  }
  return 0;
}

}  // namespace

BOOL SelectDestination(FrontEnd& fe) {
  char* destination = fe.Job.DestinationDir;
  destination[0] = '\0';
  char initialDirectory[kDestinationSize] = {};
  const DWORD length = GetCurrentDirectoryA(sizeof initialDirectory, initialDirectory);
  if (length == 0 || length >= sizeof initialDirectory) initialDirectory[0] = '\0';
  char fileName[128] = {};
  char fileTitle[kDestinationSize] = {};
  DestinationHook hook;
  hook.Destination = destination;
  hook.Frontend = &fe.Host;

  OPENFILENAMEA open{};
  open.lStructSize = sizeof open;
  open.hwndOwner = fe.MainWindow;
  open.hInstance = fe.Instance;
  open.lpstrFilter = "*.*\0*.*\0";
  open.nFilterIndex = 1;
  open.lpstrFile = fileName;
  open.nMaxFile = sizeof fileName;
  open.lpstrFileTitle = fileTitle;
  open.nMaxFileTitle = sizeof fileTitle;
  open.lpstrInitialDir = initialDirectory;
  open.lpstrTitle = texts::kDestinationCaption;
  // Old form (no OFN_EXPLORER): the template keeps directory and drive lists, and IDABORT
  // posted by the hook ends the dialog with its second parameter as the result.
  open.Flags = OFN_FILEMUSTEXIST | OFN_ENABLETEMPLATE | OFN_ENABLEHOOK | OFN_OVERWRITEPROMPT;
  open.lCustData = reinterpret_cast<LPARAM>(&hook);
  open.lpfnHook = DestinationHookProc;
  open.lpTemplateName = MAKEINTRESOURCEA(IDD_DESTINATION);
  return GetOpenFileNameA(&open);
}

}  // namespace korvane::ui
