// What the engine needs from the program around it: message boxes, the synchronous progress
// message to the job's progress window, and the status hook. The engine never shows
// anything itself; the installer answers with MessageBoxA/SendMessageA, the command-line tool
// prints and answers from its flags, tests script the answers.
#pragma once
#include <cstddef>
#include <cstdint>

namespace korvane {

// Message box styles and answers, with the values Windows gives them so the installer can
// pass them straight through.
inline constexpr std::uint32_t kMbOk = 0x00;
inline constexpr std::uint32_t kMbOkCancel = 0x01;
inline constexpr std::uint32_t kMbIconStop = 0x10;
inline constexpr std::uint32_t kMbButtonMask = 0x0F;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

class Host {
 public:
  // Shows text under title (nullptr: the system's default title) owned by owner (a window
  // handle, may be null) and returns the button chosen (kIdOk, kIdCancel, ...).
  virtual int ShowMessageBox(void* owner, const char* text, const char* title, std::uint32_t style) = 0;
  // MSG_JOB_PROGRESS to window, returning only after the window has dealt with it.
  virtual void SendProgressMessage(void* window, std::uintptr_t wParam, std::intptr_t lParam) = 0;
  // The status hook: one of the identifiers of engine/status.h.
  virtual void ReportStatus(const char* identifier) = 0;
  // Turns an entry's stored name (from an archive made on hostOs) into the name shown and
  // created, in place; false, name unchanged, when the result would not fit capacity. The
  // installer keeps the stored bytes, as Windows reads them; the command-line tool on POSIX
  // converts the old code pages of DOS and Windows archives to UTF-8.
  virtual bool AdaptEntryName(std::uint8_t hostOs, char* name, std::size_t capacity) {
    (void)hostOs, (void)name, (void)capacity;
    return true;
  }

 protected:
  ~Host() = default;
};

// A host for looking ahead (summing sizes, peeking at the first entry): no box is shown, each
// is answered Cancel, and no status goes anywhere. What it would have said is the job's to say.
class SilentHost final : public Host {
 public:
  int ShowMessageBox(void*, const char*, const char*, std::uint32_t) override { return kIdCancel; }
  void SendProgressMessage(void*, std::uintptr_t, std::intptr_t) override {}
  void ReportStatus(const char*) override {}
};

}  // namespace korvane
