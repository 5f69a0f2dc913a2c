// The job record shared by the front end, the worker thread and the engine, and the
// private window message through which the engine asks the progress window to repaint.
#pragma once
#include <atomic>
#include <cstdint>

namespace korvane {

// Private window message 1997: (0, 0) asks the progress window to repaint from the job,
// (1, result) tells it that the job has ended.
inline constexpr std::uint32_t MSG_JOB_PROGRESS = 1997;

// One record per program, owned by the front end; the engine keeps only a reference.
// The worker writes CurrentFile, FileProgress, CurrentVolume and ArchiveName while the
// user-interface thread waits in a synchronous MSG_JOB_PROGRESS, so those need no lock.
// Abort is the one word both threads write at any time.
struct ExtractionJob {
  void* ProgressWindow = nullptr;   // HWND of the progress window; opaque to the engine
  std::int32_t VolumeCount = 0;     // from resource 141; only the progress window uses it
  // Volume being read, relative to the current directory. The installer's names are at most
  // 14 characters, but the command-line tool takes any path, so the buffer has the Win32
  // path limit; AdvanceVolumeName needs 4 characters of room behind the name.
  char ArchiveName[260] = {};
  std::int32_t CurrentVolume = 1;   // 1 for the first volume
  char CurrentFile[1024] = {};      // output path of the entry being processed
  char Mode = 'T';                  // 'X' extract (install) or 'T' test
  float FileProgress = 0.0f;        // 0.0 to 1.0 in steps of 0.01
  char DestinationDir[1024] = {};   // ends in '\' in mode 'X', empty in mode 'T'
  std::atomic<std::int32_t> Abort{0};  // 0 run; 2 front end's abort box; 1 engine gave up on a volume
  // Entries that failed in the last run (unknown method, file not created, checksum failure,
  // failed move to the next volume, unusable name). RunExtraction sets it before returning,
  // so a front end can report failure even when the result (entries processed) is above 0.
  std::int32_t ErrorCount = 0;
};

}  // namespace korvane
