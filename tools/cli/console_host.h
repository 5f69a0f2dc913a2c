// The command-line tool's Host: message boxes become messages on stderr (questions are
// answered from a policy or asked on the terminal), status identifiers are printed on request,
// and progress messages call back into the command that runs the job.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "engine/host.h"

namespace korvane::cli {

class ConsoleHost final : public Host {
 public:
  enum class Overwrite { kAsk, kAll, kNever };

  int ShowMessageBox(void* owner, const char* text, const char* title, std::uint32_t style) override;
  void SendProgressMessage(void* window, std::uintptr_t wParam, std::intptr_t lParam) override;
  void ReportStatus(const char* identifier) override;

  Overwrite overwrite = Overwrite::kAsk;
  bool verbose = false;                 // print status identifiers
  std::function<void()> onProgress;     // called for each progress message
  std::function<void()> beforeMessage;  // lets a progress bar clear its line first
  std::function<void(const char*)> onStatus;  // every status identifier, verbose or not
  std::string lastStatus;
  int messages = 0;                     // boxes shown
  bool sawUnexpectedEnd = false;
};

// Text with control and non-ASCII bytes shown as \xNN, so names from an archive cannot drive
// the terminal.
std::string Printable(const char* text);

}  // namespace korvane::cli
