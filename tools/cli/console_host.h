// The command-line tool's Host: what the engine tells becomes one line each on stderr in the
// tool's own words, its question is answered from a policy or asked on the terminal, status
// identifiers are printed on request, and progress calls back into the command that runs the
// job.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "engine/host.h"
#include "tools/cli/charset.h"
#include "tools/cli/options.h"

namespace korvane::cli {

class ConsoleHost final : public Host {
 public:
  enum class Overwrite { kAsk, kAll, kNever };

  void Tell(Notice notice, const char* subject) override;
  bool Ask(Question question, const char* subject) override;
  void ShowProgress() override;
  void ReportStatus(Status status) override;
  bool AdaptEntryName(std::uint8_t hostOs, char* name, std::size_t capacity) override;

  Overwrite OverwriteAnswer = Overwrite::kAsk;
  const NameCharset* Charset = nullptr;  // converts names of DOS and Windows archives, if set
  bool Verbose = false;                 // print status identifiers
  std::function<void()> OnProgress;     // called for each progress report
  std::function<void()> BeforeMessage;  // lets a progress bar clear its line first
  std::function<void(Status)> OnStatus;  // every status, verbose or not
  std::function<std::string()> CurrentEntry;  // names the entry an overwrite question is about
  int Messages = 0;                     // notices and questions
  bool ArchiveRefused = false;          // the archive is not one
  bool DiskFull = false;                // a write found the disk full, which ended the job
  bool SawUnexpectedEnd = false;
};

// Text with control and non-ASCII bytes shown as \xNN, so names from an archive cannot drive
// the terminal.
std::string Printable(const char* text);

// An entry name as the user of this system expects to read it: UTF-8 text as it is, other
// non-printable bytes as \xNN, and on POSIX with `/` between its components (the archive
// stores `\`).
std::string DisplayName(const char* entryName);

// --charset NAME as the reading commands take it.
inline constexpr OptionEntry kReadCharsetOption{
    .Long = "charset",
    .Value = "NAME",
    .Help = "code page of names from DOS and Windows archives (default cp437;\n"
            "for example cp866, cp850, cp1251)"};

// The code page --charset names, or the default; nullptr, after the usage error, when the
// system does not know it.
const char* ReadCharset(const CommandTable& table, const ParsedArgs& args);

// Checks that path names a readable file before the engine opens it, so that a missing,
// unreadable or directory argument gets a precise message; prints it and returns false.
bool CheckArchiveReadable(const char* path);

}  // namespace korvane::cli
