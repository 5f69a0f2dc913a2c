// The text viewer: the release's NFO file, read-only in an OEM fixed-width font, closed only
// through its menu.
#include <windows.h>

#include <memory>
#include <vector>

#include "ui/front_end_win32.h"
#include "ui/resource.h"
#include "ui/texts.h"

namespace korvane::ui {
namespace {

struct NfoViewer {
  FontHandle Font;
  bool FirstPaint = true;
};

// The whole file with a NUL behind it, or nothing when it cannot be read in full.
std::unique_ptr<std::vector<char>> ReadWholeFile(const char* name) {
  const KernelHandle file(
      CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr));
  if (!file) return nullptr;
  LARGE_INTEGER size{};
  // An edit control cannot show more than fits in memory anyway; a file beyond 64 MiB is
  // treated as unreadable rather than allocated.
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || size.QuadPart > (64 << 20)) return nullptr;
  auto text = std::make_unique<std::vector<char>>(static_cast<std::size_t>(size.QuadPart) + 1, '\0');
  DWORD read = 0;
  if (!ReadFile(file.Get(), text->data(), static_cast<DWORD>(size.QuadPart), &read, nullptr) ||
      read != static_cast<DWORD>(size.QuadPart))
    return nullptr;
  return text;
}

// NFO files are drawn in the DOS character set (code page 437: blocks, lines, shades). The
// edit control keeps Unicode text, and the OEM font finds its glyphs by turning Unicode back
// into that code page, so the bytes are read as code page 437 rather than the ANSI one, which
// would turn the art's blocks into accented letters.
void SetNfoText(HWND window, const char* text) {
  constexpr UINT kDosCodePage = 437;
  const int length = MultiByteToWideChar(kDosCodePage, 0, text, -1, nullptr, 0);
  if (length <= 0) {
    SetDlgItemTextA(window, IDC_NFO_TEXT, text);
    return;
  }
  std::vector<wchar_t> wide(static_cast<std::size_t>(length));
  MultiByteToWideChar(kDosCodePage, 0, text, -1, wide.data(), length);
  SetDlgItemTextW(window, IDC_NFO_TEXT, wide.data());
}

NfoViewer* StateOf(HWND window) { return reinterpret_cast<NfoViewer*>(GetWindowLongPtrA(window, DWLP_USER)); }

}  // namespace

INT_PTR CALLBACK NfoViewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto& args = *reinterpret_cast<const NfoViewerArgs*>(lParam);
      auto* viewer = new NfoViewer;
      SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(viewer));
      const auto text = ReadWholeFile(args.FileName);
      LOGFONTA description{};
      GetObjectA(GetStockObject(OEM_FIXED_FONT), sizeof description, &description);
      description.lfHeight = 15;
      description.lfWidth = 8;
      viewer->Font = FontHandle(CreateFontIndirectA(&description));
      SendDlgItemMessageA(window, IDC_NFO_TEXT, WM_SETFONT, reinterpret_cast<WPARAM>(viewer->Font.Get()), TRUE);
      SetNfoText(window, text ? text->data() : texts::kNoNfo);
      ShowWindow(window, SW_SHOW);
      viewer->FirstPaint = true;
      return 1;
    }
    case WM_PAINT: {
      NfoViewer* viewer = StateOf(window);
      PaintDc dc(window);
      if (viewer && viewer->FirstPaint) {
        // The system selects the whole text when it gives the field the focus.
        viewer->FirstPaint = false;
        SendDlgItemMessageA(window, IDC_NFO_TEXT, EM_SETSEL, 0, 0);
        SendDlgItemMessageA(window, IDC_NFO_TEXT, EM_SCROLLCARET, 0, 0);
      }
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDM_RETURN_TO_INSTALLER) {
        DestroyWindow(window);
        return 1;
      }
      return 0;
    case WM_NCDESTROY:
      // The font goes with the window however it closes (also with the main window).
      delete StateOf(window);
      SetWindowLongPtrA(window, DWLP_USER, 0);
      return 0;
  }
  return 0;
}

}  // namespace korvane::ui
