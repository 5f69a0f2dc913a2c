#include "tools/cli/console_host.h"

#include <cstdio>
#include <cstring>

#include "engine/status.h"

namespace korvane::cli {

std::string Printable(const char* text) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    if (*p >= 0x20 && *p < 0x7F) {
      out.push_back(static_cast<char>(*p));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", *p);
      out += hex;
    }
  }
  return out;
}

int ConsoleHost::ShowMessageBox(void*, const char* text, const char* title, std::uint32_t style) {
  ++messages;
  // A question already answered by a flag is not shown.
  const bool question = (style & kMbButtonMask) == kMbOkCancel;
  if (question && overwrite == Overwrite::kAll) return kIdOk;
  if (question && overwrite == Overwrite::kNever) return kIdCancel;
  if (beforeMessage) beforeMessage();
  std::string flat;
  for (const char* p = text; *p != 0; ++p) flat.push_back(*p == '\n' ? ' ' : *p);
  std::fprintf(stderr, "korvane: %s%s%s\n", title != nullptr ? title : "", title != nullptr ? ": " : "",
               Printable(flat.c_str()).c_str());
  if (!question) return kIdOk;
  std::fprintf(stderr, "  [o]verwrite this and all later files, or [s]kip this one? ");
  std::fflush(stderr);
  char line[64];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return kIdCancel;
  return line[0] == 'o' || line[0] == 'O' || line[0] == 'y' || line[0] == 'Y' ? kIdOk : kIdCancel;
}

void ConsoleHost::SendProgressMessage(void*, std::uintptr_t, std::intptr_t) {
  if (onProgress) onProgress();
}

void ConsoleHost::ReportStatus(const char* identifier) {
  lastStatus = identifier;
  if (std::strcmp(identifier, status::kUnexpEOF) == 0) sawUnexpectedEnd = true;
  if (verbose) {
    if (beforeMessage) beforeMessage();
    std::fprintf(stderr, "[%s]\n", identifier);
  }
  if (onStatus) onStatus(identifier);
}

}  // namespace korvane::cli
