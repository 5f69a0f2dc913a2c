// What the engine needs from the program around it: telling the user what went wrong, asking
// the one question it has, showing progress, and the status hook. The engine only names what
// happened; each front end decides how it looks (the installer's message boxes, the
// command-line tool's lines, a test's record).
#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/status.h"

namespace korvane {

// What the engine tells the user. The subject is the name concerned: the volume's for the
// first three, the file's for kDiskFull, none (nullptr) for the others.
enum class Notice {
  kCannotFind,     // a volume is not there
  kNotAnArchive,   // the first volume is not an archive
  kCorruptVolume,  // a volume is damaged, or is not the one that comes next
  kOutOfMemory,    // the decompression state could not be had; nothing was done
  kWriteError,     // a write failed; the entry goes on and fails its check
  kDiskFull,       // a write found the disk full; the run ends
};

// What the engine asks. The subject is the name concerned.
enum class Question {
  kOverwriteAll,  // the file exists: replace it, and every later one without asking?
};

class Host {
 public:
  virtual void Tell(Notice notice, const char* subject) = 0;
  // True when the user agrees.
  virtual bool Ask(Question question, const char* subject) = 0;
  // The job's progress fields (current file, its progress, the volume) have changed; returns
  // once the front end has shown them, so the worker may change them again.
  virtual void ShowProgress() = 0;
  // The status hook: what the engine is doing or has found, by its fixed identifier.
  virtual void ReportStatus(Status status) = 0;
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

// A host for looking ahead (summing sizes, peeking at the first entry): nothing is shown,
// every question is answered no, and no status goes anywhere. What it would have said is the
// job's to say.
class SilentHost final : public Host {
 public:
  void Tell(Notice, const char*) override {}
  bool Ask(Question, const char*) override { return false; }
  void ShowProgress() override {}
  void ReportStatus(Status) override {}
};

}  // namespace korvane
