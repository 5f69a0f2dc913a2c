// The walk of a whole run: opening (and starting over), entry by entry decisions, decoding,
// checking and finishing each file, the search for the first volume of a solid archive, and
// the closing status.
#include "engine/extraction.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include "engine/archive_format.h"
#include "engine/checksum.h"
#include "engine/data_io.h"
#include "engine/file_ops.h"
#include "engine/status.h"
#include "engine/volumes.h"
#include "unpack/unpack.h"

namespace korvane {
namespace {

constexpr std::size_t kOutputNameSize = 260;  // the Win32 path limit

// Per-call state of the driver.
struct RunState {
  std::int32_t FilesDone = 0;
  std::int32_t ErrorCount = 0;
  std::int32_t EntriesSinceOpen = 0;
  bool ExtractThis = false;
  bool SkipSolid = false;
  bool BadCrc = false;
  bool Refused = false;
  bool SearchedFirstVolume = false;
  char OutputName[kOutputNameSize] = {};
};

enum class Step { kWalk, kStartOver, kEnd, kReturnZero };

void ShowArchiveBox(EngineState& e, void* owner, const char* format, const char* title, std::uint32_t style,
                    const ExtractionJob& job) {
  char text[sizeof job.ArchiveName + 64];
  std::snprintf(text, sizeof text, format, job.ArchiveName);
  e.Frontend.ShowMessageBox(owner, text, title, style);
}

// Steps 3 to 6 of a run: open, identify, window, skip the main header.
bool OpenArchive(EngineState& e, UnpackState& unpack, RunState& run, void* owner, ExtractionJob& job) {
  run.EntriesSinceOpen = 0;
  job.FileProgress = 0.0f;
  e.Session.InputFile = OpenFileForReading(job.ArchiveName);
  if (!IsOpenFile(e.Session.InputFile)) {
    e.Session.InputFile = kNoFile;
    ShowArchiveBox(e, owner, "Cannot find:\n%s", "Zendril 1997", kMbOk | kMbIconStop, job);
    return false;
  }
  if (!IdentifyArchive(e)) {
    ShowArchiveBox(e, owner, "Not a valid Archive:\n%s", nullptr, kMbOk | kMbIconStop, job);
    e.CloseFiles();
    return false;
  }
  e.UnpackWindow.reset(new (std::nothrow) std::uint8_t[kUnpackWindowSize]());
  if (!e.UnpackWindow) {
    e.Frontend.ShowMessageBox(owner, "Out of Memory", nullptr, kMbOk);
    e.CloseFiles();
    return false;
  }
  // A fresh window means a fresh dictionary: nothing of an earlier opening may leak into it.
  static_assert(std::is_trivially_copyable_v<UnpackState>);
  std::memset(static_cast<void*>(&unpack), 0, sizeof unpack);
  SkipRestOfMainHeader(e);
  e.Session.EntryContinues = false;
  return true;
}

// Reached when a solid archive was opened at a later volume: try name.rar, then name.exe.
Step FindFirstVolume(EngineState& e, RunState& run, ExtractionJob& job) {
  e.CloseFiles();
  char* dot = FindExtensionDot(job.ArchiveName);
  // Searching twice means the name found was not the first volume either (an .exe whose first
  // entry continues, say): starting over again would go round for ever.
  const bool tried = run.SearchedFirstVolume || (dot != nullptr && CompareNoCase(dot, ".rar") == 0);
  run.SearchedFirstVolume = true;
  if (!tried) {
    for (const char* extension : {"rar", "exe"}) {
      if (ReplaceExtension(job.ArchiveName, sizeof job.ArchiveName, extension) && PathExists(job.ArchiveName))
        return Step::kStartOver;
    }
  }
  e.Frontend.ReportStatus(status::kMissingFirstVolume);
  e.Frontend.ReportStatus(status::kNoFilesFatal);
  return Step::kReturnZero;
}

void CreateDirectoryEntry(EngineState& e, RunState& run) {
  DirResult r = CreateDirectoryPath(run.OutputName);
  if (r == DirResult::kPathMissing) {
    MakeDirectories(e, run.OutputName);
    r = CreateDirectoryPath(run.OutputName);
    if (r != DirResult::kCreated && r != DirResult::kExists) e.Frontend.ReportStatus(status::kExtrErrMkDir);
  }
  if (r == DirResult::kCreated) e.Frontend.ReportStatus(status::kCreatDir);
}

void DecodeEntry(EngineState& e, UnpackState& unpack, RunState& run, ExtractionJob& job) {
  const ArchiveState& a = e.Archive;
  const FileHeader& h = a.File;
  UnpackSession& s = e.Session;
  s.PackedLeft = h.PackSize;
  s.RemainingOutput = static_cast<std::int32_t>(h.UnpSize);
  s.BytesWritten = 0;
  s.SkipChecksum = run.SkipSolid;
  s.Checksum = a.Format == ArchiveFormat::kOld ? 0u : 0xFFFFFFFFu;
  EngineUnpackIo io(e, job);
  if (h.Method == 0x30) {
    CopyStoredData(e, job);
  } else if (h.UnpVer > 15) {
    UnpackFormat20(unpack, io, e.UnpackWindow.get(), (h.HeadFlags & kSolidEntry) != 0);
  } else {
    UnpackFormat15(unpack, io, e.UnpackWindow.get(), run.EntriesSinceOpen > 1 && a.SolidArchive);
  }
}

void CheckAndFinishEntry(EngineState& e, RunState& run) {
  const FileHeader& h = e.Archive.File;
  UnpackSession& s = e.Session;
  if (!run.SkipSolid) {
    const bool ok = e.Archive.Format == ArchiveFormat::kOld ? s.Checksum == h.FileCRC : s.Checksum == ~h.FileCRC;
    if (ok) {
      e.Frontend.ReportStatus(status::kExtrOk);
      run.BadCrc = false;
    } else {
      e.Frontend.ReportStatus((h.HeadFlags & kEncrypted) ? status::kEncrBadCRC : status::kExtrBadCRC);
      run.ErrorCount += 1;
      run.BadCrc = true;
    }
  }
  if (s.TestOnly) {
    s.TestOnly = false;
    return;
  }
  // A file about to be deleted keeps its attributes off: a read-only file could not be deleted
  // on Windows and the damaged data would stay behind.
  if (!run.BadCrc) ApplyFileTimeAndAttributes(h, run.OutputName, s.OutputFile);
  CloseFileHandle(s.OutputFile);
  s.OutputFile = kNoFile;
  if (run.BadCrc) DeleteFilePath(run.OutputName);
}

// One round of the walk. Returns kWalk to go on.
Step WalkOneEntry(EngineState& e, UnpackState& unpack, RunState& run, char mode, void* owner, ExtractionJob& job) {
  ArchiveState& a = e.Archive;
  UnpackSession& s = e.Session;
  if (job.Abort.load() != 0) return Step::kEnd;
  const std::uint32_t size = NextBlock(e, kFileHead, true);
  if (size == 0 && !s.EntryContinues) return Step::kEnd;
  if (a.Block.HeadType == kSubBlock) {
    SeekFile(s.InputFile, a.NextBlockPos, kSeekStart);
    return Step::kWalk;
  }
  SanitizeEntryName(a.EntryName);
  // Only a header just read can reveal that the archive was opened past its first volume; a
  // volume used up at a block boundary still shows the entry that was being read.
  if (size != 0 && (a.File.HeadFlags & kSplitBefore) && a.SolidArchive) return FindFirstVolume(e, run, job);
  if (s.EntryContinues && size == 0) {
    if (!OpenNextVolume(e, job, false)) {
      run.ErrorCount += 1;
      return Step::kStartOver;
    }
    SanitizeEntryName(a.EntryName);
  }
  const FileHeader& h = a.File;
  s.EntryContinues = (h.HeadFlags & kSplitAfter) != 0;
  SeekFile(s.InputFile, a.NextBlockPos - h.PackSize, kSeekStart);
  s.TestOnly = false;
  run.SkipSolid = false;
  run.ExtractThis = false;
  const bool continued = (h.HeadFlags & kSplitBefore) != 0;
  if (continued && !a.SolidArchive) {
    SeekFile(s.InputFile, a.NextBlockPos, kSeekStart);
    return Step::kWalk;
  }
  if (continued) run.SkipSolid = true;

  // The name must be something, and the whole output path must fit the path limit.
  const std::size_t destLength = std::strlen(job.DestinationDir);
  const bool nameUsable =
      a.EntryName[0] != '\0' && destLength + std::strlen(a.EntryName) < sizeof run.OutputName;
  run.OutputName[0] = '\0';
  if (nameUsable) {
    std::memcpy(run.OutputName, job.DestinationDir, destLength);
    std::strcpy(run.OutputName + destLength, a.EntryName);
  }
  run.ExtractThis = !run.SkipSolid;
  if (h.UnpVer < 13 || h.UnpVer > 20) {
    e.Frontend.ReportStatus(status::kExtrUnknMeth);
    if (run.ExtractThis) run.ErrorCount += 1;
    run.ExtractThis = false;
  }
  if (h.FileAttr & 0x08) {  // a volume label: nothing to do
    SeekFile(s.InputFile, a.NextBlockPos, kSeekStart);
    return Step::kWalk;
  }
  if (h.FileAttr & 0x10) {
    SeekFile(s.InputFile, a.NextBlockPos, kSeekStart);
    if (run.SkipSolid) {
      e.Frontend.ReportStatus(status::kExtrSkipDir);
      return Step::kWalk;
    }
    if (!nameUsable) {
      run.ErrorCount += 1;
      return Step::kWalk;
    }
    run.FilesDone += 1;
    if (mode == 'T') {
      e.Frontend.ReportStatus(status::kExtrTestDir);
    } else {
      CreateDirectoryEntry(e, run);
    }
    return Step::kWalk;
  }

  // A file entry.
  std::snprintf(job.CurrentFile, sizeof job.CurrentFile, "%s", nameUsable ? run.OutputName : a.EntryName);
  if (run.ExtractThis && !nameUsable) {
    e.Frontend.ReportStatus(status::kExtrErrCreat);
    run.ErrorCount += 1;
    run.ExtractThis = false;
  }
  if (run.ExtractThis && mode == 'T') s.TestOnly = true;
  if (run.ExtractThis && mode == 'X') {
    job.FileProgress = 0.0f;
    e.Frontend.SendProgressMessage(job.ProgressWindow, 0, 0);
    s.OutputFile = CreateOutputFile(e, owner, run.OutputName, run.Refused);
    if (!IsOpenFile(s.OutputFile)) {
      s.OutputFile = kNoFile;
      if (!run.Refused) {
        e.Frontend.ReportStatus(status::kExtrErrCreat);
        run.ErrorCount += 1;
      }
      run.ExtractThis = false;
    }
  }
  if (!run.ExtractThis && a.SolidArchive) {
    // The following entries were packed with this one's dictionary: decode it without output.
    run.ExtractThis = run.SkipSolid = s.TestOnly = true;
  }
  if (!run.ExtractThis) {
    if (!a.SolidArchive) SeekFile(s.InputFile, a.NextBlockPos, kSeekStart);
    return Step::kWalk;
  }
  if (!run.SkipSolid) run.FilesDone += 1;
  run.EntriesSinceOpen += 1;
  e.Frontend.ReportStatus(run.SkipSolid ? status::kExtrSkipFile : mode == 'X' ? status::kExtrFile : status::kExtrTestFile);
  DecodeEntry(e, unpack, run, job);
  SeekFile(s.InputFile, a.NextBlockPos, kSeekStart);
  CheckAndFinishEntry(e, run);
  return Step::kWalk;
}

}  // namespace

void SanitizeEntryName(char* name) {
  std::string out;
  const char* p = name;
  // A drive prefix ("C:") at the start, also a drive-relative one ("C:x").
  if (p[0] != '\0' && p[1] == ':') p += 2;
  while (*p != '\0') {
    const char* end = p;
    while (*end != '\0' && *end != '\\' && *end != '/') ++end;
    const std::string component(p, end);
    bool onlyDotsAndSpaces = true;
    for (char c : component) onlyDotsAndSpaces = onlyDotsAndSpaces && (c == '.' || c == ' ');
    const bool drive = component.size() == 2 && component[1] == ':';
    if (!component.empty() && !onlyDotsAndSpaces && !drive) {
      if (!out.empty()) out.push_back('\\');
      out += component;
    }
    p = *end != '\0' ? end + 1 : end;
  }
  // The result is never longer than the name it came from.
  std::memcpy(name, out.c_str(), out.size() + 1);
}

void ApplyFileTimeAndAttributes(const FileHeader& header, const char* outputName, FileHandle file) {
  SetFileAttributesOf(outputName, header.FileAttr & (0x01 | 0x02 | 0x04 | 0x20));
  SetFileTimesFromDos(file, header.FileTime);
}

std::int32_t RunExtraction(EngineState& e, UnpackState& unpack, char mode, void* ownerWindow, ExtractionJob& job) {
  RunState run;
  e.Mode = mode;
  e.CloseFiles();
  e.Archive = ArchiveState{};
  e.Session = UnpackSession{};
  e.OverwriteAll = false;
  job.ErrorCount = 0;
  Step step = Step::kStartOver;
  while (step == Step::kStartOver) {
    e.UnpackWindow.reset();
    e.CloseFiles();
    if (!OpenArchive(e, unpack, run, ownerWindow, job)) {
      step = Step::kReturnZero;
      break;
    }
    do {
      step = WalkOneEntry(e, unpack, run, mode, ownerWindow, job);
    } while (step == Step::kWalk);
  }
  e.UnpackWindow.reset();
  e.CloseFiles();
  job.ErrorCount = run.ErrorCount;
  if (step == Step::kReturnZero) return 0;
  if (run.FilesDone == 0) {
    e.Frontend.ReportStatus(status::kExtrNoFiles);
    return 0;
  }
  e.Frontend.ReportStatus(run.ErrorCount != 0 ? status::kExtrTotalErr : status::kExtrAllOk);
  return run.FilesDone;
}

}  // namespace korvane
