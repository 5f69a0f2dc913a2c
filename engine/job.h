// The job record shared by the front end, the worker thread and the engine, the private window
// message through which the engine asks the progress window to repaint, and the setting up of
// a job that both front ends share.
#pragma once
#include <atomic>
#include <cstdint>
#include <string_view>

#include "engine/install_journal.h"
#include "platform/file_layer.h"

namespace korvane {

// What a run does with each entry: installs it under the destination, or only tests it. The
// values are the letters the job has always carried.
enum class JobMode : char {
  kInstall = 'X',
  kTest = 'T',
};

// Why a run stops early. The job keeps it in a plain 32-bit word: the unpackers poll that for
// non-zero and know nothing of jobs.
enum class AbortState : std::int32_t {
  kRunning = 0,
  kEngineGaveUp = 1,  // the engine told the user about a missing or damaged volume and stopped
  kUserAborted = 2,   // the front end's abort (its box, Ctrl-C, closing the program)
};

// Room for an output path and for the destination in front of it: the path limit, and never
// less than the 1024 bytes the installer has always given both.
inline constexpr std::size_t kJobPathSize = kPathLimit > 1024 ? kPathLimit : 1024;

// One record per program, owned by the front end; the engine keeps only a reference.
// The worker writes CurrentFile, FileProgress, CurrentVolume and ArchiveName only before it
// calls Host::ShowProgress, which returns once the front end has read them, so those need no
// lock.
// Abort is the one word both threads write at any time.
struct ExtractionJob {
  std::int32_t VolumeCount = 0;     // from resource 141; only the progress window uses it
  // Volume being read, relative to the current directory. The installer's names are at most
  // 14 characters, but the command-line tool takes any path, so the buffer has the path limit.
  char ArchiveName[kPathLimit] = {};
  std::int32_t CurrentVolume = 1;   // 1 for the first volume
  char CurrentFile[kJobPathSize] = {};  // output path of the entry being processed
  JobMode Mode = JobMode::kTest;
  float FileProgress = 0.0f;        // 0.0 to 1.0 in steps of 0.01
  char DestinationDir[kJobPathSize] = {};  // ends in '\' when installing, empty when testing
  std::atomic<std::int32_t> Abort{0};  // an AbortState; use the calls below
  // Entries that failed in the last run (unknown method, file not created, checksum failure,
  // stored sizes that differ, failed move to the next volume, unusable name, a volume that
  // ends inside a block). RunExtraction sets it before returning, so a front end can report
  // failure even when the result (entries processed) is above 0.
  std::int32_t ErrorCount = 0;
  // Set by the installer: an install run notes in it what it creates and sets aside every file
  // it replaces, so that the user may undo it; the installer then keeps or undoes it. Without
  // one, a replaced file is replaced at once, as the command-line tool wants.
  InstallJournal* Journal = nullptr;

  bool Running() const { return Abort.load() == static_cast<std::int32_t>(AbortState::kRunning); }
  AbortState StopReason() const { return static_cast<AbortState>(Abort.load()); }
  void Stop(AbortState why) { Abort.store(static_cast<std::int32_t>(why)); }
};

// Sets the job up for a run in mode of the archive whose first volume is
// archiveName, with destination as the prefix of every output path (empty for a test run; a
// backslash is added when it does not end in a separator), at the first volume, not aborted.
// False, with the job unchanged, when the name leaves no room for the four characters the
// volume naming may add or the destination does not fit.
bool PrepareJob(ExtractionJob& job, JobMode mode, std::string_view archiveName, std::string_view destination);

}  // namespace korvane
