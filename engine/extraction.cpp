// The driver: opening (and starting over), the walk over the entries with one decision and
// one action for each, decoding, checking and finishing files, the search for the first
// volume of a solid archive, and the closing status.
#include "engine/extraction.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "engine/archive_format.h"
#include "engine/data_io.h"
#include "engine/entry_decision.h"
#include "engine/entry_name.h"
#include "engine/entry_walk.h"
#include "engine/file_ops.h"
#include "engine/output_file.h"
#include "engine/status.h"
#include "engine/volumes.h"
#include "unpack/unpack.h"

namespace korvane {
namespace {

enum class Next { kStartOver, kEnd, kReturnZero };

// A directory entry whose time (and mode) is set once the run has written everything inside it.
struct FolderToFinish {
  std::string Name;
  std::uint32_t DosTime;
  PermissionSource Source;
  std::uint32_t UnixMode;
};

// Everything one call of RunExtraction keeps besides the reader.
struct Run {
  Run(ArchiveReader& reader, UnpackState& unpack, ExtractionJob& job)
      : Reader(reader), Host(reader.Frontend), Unpack(unpack), Job(job),
        RootLength(std::strlen(job.DestinationDir)), Journal(job.Mode == JobMode::kInstall ? job.Journal : nullptr) {}

  ArchiveReader& Reader;
  korvane::Host& Host;
  UnpackState& Unpack;
  ExtractionJob& Job;
  UnpackSession Session;
  std::unique_ptr<std::uint8_t[]> UnpackWindow;
  std::int32_t FilesDone = 0;
  std::int32_t ErrorCount = 0;
  std::int32_t EntriesSinceOpen = 0;  // entries decoded since the archive was (re)opened
  bool OverwriteAll = false;          // the user accepted the overwrite question for the run
  bool SearchedFirstVolume = false;
  char OutputName[kPathLimit] = {};   // DestinationDir followed by the entry's name
  // Nothing below the destination is written through a link the run did not make.
  std::size_t RootLength;
  InstallJournal* Journal;            // what the installer may be asked to undo
  std::vector<FolderToFinish> Folders;
};

GuardedPath Output(const Run& run) { return GuardedPath(run.OutputName, run.RootLength); }

PermissionSource PermissionsOf(const FileHeader& h) {
  return h.HostOS == kHostUnix ? PermissionSource::kUnixMode : PermissionSource::kDefault;
}

void CloseFiles(Run& run) {
  run.Reader.Input.Close();
  run.Session.Output.Discard();
}

bool Open(Run& run) {
  run.EntriesSinceOpen = 0;
  run.Job.FileProgress = 0.0f;
  if (!OpenArchive(run.Reader, run.Job)) return false;
  run.UnpackWindow.reset(new (std::nothrow) std::uint8_t[kWindowSize]());
  if (!run.UnpackWindow) {
    run.Host.Tell(Notice::kOutOfMemory, nullptr);
    CloseFiles(run);
    return false;
  }
  // A fresh window means a fresh dictionary: nothing of an earlier opening may leak into it.
  static_assert(std::is_trivially_copyable_v<UnpackState>);
  std::memset(static_cast<void*>(&run.Unpack), 0, sizeof run.Unpack);
  run.Reader.EntryContinues = false;
  return true;
}

// Reached when a solid archive was opened at a later volume: try name.rar, then name.exe.
Next FindFirstVolume(Run& run) {
  CloseFiles(run);
  char* name = run.Job.ArchiveName;
  char* dot = FindExtensionDot(name);
  // Searching twice means the name found was not the first volume either (an .exe whose first
  // entry continues, say): starting over again would go round for ever.
  const bool tried = run.SearchedFirstVolume || (dot != nullptr && CompareNoCase(dot, ".rar") == 0);
  run.SearchedFirstVolume = true;
  if (!tried && FindFirstVolumeName(name, sizeof run.Job.ArchiveName)) return Next::kStartOver;
  run.Host.ReportStatus(Status::kMissingFirstVolume);
  run.Host.ReportStatus(Status::kNoFilesFatal);
  return Next::kReturnZero;
}

// ---- one function per EntryAction ----

void PassOverDirectory(Run& run) { run.Host.ReportStatus(Status::kExtrSkipDir); }

void HandleDirectory(Run& run) {
  run.FilesDone += 1;
  if (run.Job.Mode == JobMode::kTest) {
    run.Host.ReportStatus(Status::kExtrTestDir);
    return;
  }
  DirResult r = CreateDirectoryPath(Output(run));
  if (r == DirResult::kPathMissing) {
    MakeDirectories(run.Host, run.OutputName, run.RootLength, run.Journal);
    r = CreateDirectoryPath(Output(run));
    if (r != DirResult::kCreated && r != DirResult::kExists && r != DirResult::kThroughLink)
      run.Host.ReportStatus(Status::kExtrErrMkDir);
  }
  if (r == DirResult::kThroughLink) {
    run.Host.ReportStatus(Status::kExtrThroughLink);
    run.ErrorCount += 1;
    return;
  }
  if (r == DirResult::kCreated) {
    run.Host.ReportStatus(Status::kCreatDir);
    if (run.Journal != nullptr) run.Journal->NoteFolder(run.OutputName);
  }
  if (r == DirResult::kCreated || r == DirResult::kExists) {
    const FileHeader& h = run.Reader.Archive.File;
    run.Folders.push_back({run.OutputName, h.FileTime, PermissionsOf(h), h.UnixMode});
  }
}

// Folder times are set last: every file written inside a folder changes its time.
void FinishFolders(Run& run) {
  for (const FolderToFinish& f : run.Folders)
    FinishDirectory(GuardedPath(f.Name.c_str(), run.RootLength), f.DosTime, f.Source, f.UnixMode);
  run.Folders.clear();
}

// The output file of an entry to extract; false when there is none (refused or failed).
bool CreateOutput(Run& run) {
  run.Job.FileProgress = 0.0f;
  run.Host.ShowProgress();
  using Opened = OutputFile::Opened;
  const Opened opened =
      run.Session.Output.Create(run.Host, run.OverwriteAll, run.OutputName, run.RootLength, run.Journal);
  if (opened == Opened::kCreated) return true;
  if (opened != Opened::kRefused) {
    run.Host.ReportStatus(opened == Opened::kThroughLink ? Status::kExtrThroughLink : Status::kExtrErrCreat);
    run.ErrorCount += 1;
  }
  return false;
}

// Whether the decoded entry's data runs past the end of its volume, or a cut was found while
// reading it; the cut is told (once). After an abort the open volume says nothing of the entry.
bool DataCut(Run& run) {
  ArchiveReader& r = run.Reader;
  const bool cut = r.Archive.VolumeCut || (run.Job.Running() && r.Input.IsOpen() &&
                                           r.Input.Length() < r.Archive.NextBlockPos);
  if (cut) ReportUnexpectedEnd(r);
  return cut;
}

// A stored entry's data is its content: its parts' packed sizes must add up to the unpacked
// size. Encryption pads the data, and an encrypted entry fails as such in any case.
bool StoredSizesDiffer(const Run& run) {
  const FileHeader& h = run.Reader.Archive.File;
  return h.Method == kMethodStored && !(h.HeadFlags & kEncrypted) && run.Job.Running() &&
         run.Session.StoredPacked != h.UnpSize;
}

// Checks the decoded entry against the header the data ended in (after a move, the last
// part's, which carries the whole entry's checksum) and finishes its file.
void CheckAndFinish(Run& run, bool forDictionary) {
  const ArchiveState& a = run.Reader.Archive;
  const FileHeader& h = a.File;
  UnpackSession& s = run.Session;
  bool bad = false;
  if (DataCut(run)) {
    // Counted with its volume, and no checksum error: the data is not all there to check.
    bad = true;
  } else if (s.WriteFailed) {
    // Not a checksum error: the data may well be right, the disk did not take it. A full
    // disk has been told, which also ended the job.
    if (!s.DiskFull) run.Host.ReportStatus(Status::kExtrErrWrite);
    run.ErrorCount += 1;
    bad = true;
  } else if (!forDictionary && StoredSizesDiffer(run)) {
    run.Host.ReportStatus(Status::kExtrBadSize);
    run.ErrorCount += 1;
    bad = true;
  } else if (!forDictionary) {
    const bool ok = a.Format == ArchiveFormat::kOld ? s.Checksum == h.FileCRC : s.Checksum == ~h.FileCRC;
    if (ok) {
      run.Host.ReportStatus(Status::kExtrOk);
    } else {
      run.Host.ReportStatus((h.HeadFlags & kEncrypted) ? Status::kEncrBadCRC : Status::kExtrBadCRC);
      run.ErrorCount += 1;
      bad = true;
    }
  }
  if (s.TestOnly) return;
  if (bad) {
    s.Output.Discard();
    return;
  }
  ApplyFileTimeAndAttributes(h, s.Output);
  // The old file, if any, is replaced only now; should that fail, it stays as it was.
  if (!s.Output.Commit(run.Journal)) {
    run.Host.ReportStatus(LastPathMetLink() ? Status::kExtrThroughLink : Status::kExtrErrCreat);
    run.ErrorCount += 1;
  }
}

// kExtract (with its file created), kTest and kDecodeForDictionary.
void DecodeFile(Run& run, EntryAction action) {
  const ArchiveState& a = run.Reader.Archive;
  const FileHeader& h = a.File;
  const bool forDictionary = action == EntryAction::kDecodeForDictionary;
  if (!forDictionary) run.FilesDone += 1;
  run.EntriesSinceOpen += 1;
  run.Host.ReportStatus(forDictionary          ? Status::kExtrSkipFile
                        : run.Job.Mode == JobMode::kInstall ? Status::kExtrFile
                                              : Status::kExtrTestFile);
  UnpackSession& s = run.Session;
  run.Reader.PackedLeft = h.PackSize;
  s.RemainingOutput = static_cast<std::int32_t>(h.UnpSize);
  s.BytesWritten = 0;
  s.SkipChecksum = forDictionary;
  s.TestOnly = action != EntryAction::kExtract;
  s.WriteFailed = s.DiskFull = false;
  s.StoredPacked = 0;
  s.Checksum = a.Format == ArchiveFormat::kOld ? 0u : 0xFFFFFFFFu;
  // Taken before decoding: a move to the next volume replaces the header.
  const bool stored = h.Method == kMethodStored, format20 = h.UnpVer > 15, solidEntry = (h.HeadFlags & kSolidEntry) != 0;
  EngineUnpackIo io(run.Reader, s, run.Job);
  if (stored) {
    CopyStoredData(run.Reader, s, run.Job);
  } else if (format20) {
    UnpackFormat20(run.Unpack, io, run.UnpackWindow.get(), solidEntry);
  } else {
    UnpackFormat15(run.Unpack, io, run.UnpackWindow.get(), run.EntriesSinceOpen > 1 && a.SolidArchive);
  }
  CheckAndFinish(run, forDictionary);
}

// nameFits: the sanitised name was not cut short.
void HandleEntry(Run& run, bool nameFits) {
  ArchiveState& a = run.Reader.Archive;
  ExtractionJob& job = run.Job;
  // The name must be something, and the whole output path must fit the path limit.
  const std::size_t destLength = std::strlen(job.DestinationDir);
  const bool tooLong = !nameFits || destLength + std::strlen(a.EntryName) >= sizeof run.OutputName;
  const bool nameUsable = a.EntryName[0] != '\0' && !tooLong;
  run.OutputName[0] = '\0';
  if (nameUsable) {
    std::memcpy(run.OutputName, job.DestinationDir, destLength);
    std::strcpy(run.OutputName + destLength, a.EntryName);
  }
  const EntryDecision d = DecideEntry(a.File, nameUsable, job.Mode, a.SolidArchive);
  if (d.UnknownMethod) run.Host.ReportStatus(Status::kExtrUnknMeth);
  run.ErrorCount += d.Errors;
  switch (d.Action) {
    case EntryAction::kPassOver:
      return;
    case EntryAction::kPassOverDirectory:
      PassOverDirectory(run);
      return;
    case EntryAction::kDirectory:
      HandleDirectory(run);
      return;
    default:
      break;
  }
  std::snprintf(job.CurrentFile, sizeof job.CurrentFile, "%s", nameUsable ? run.OutputName : a.EntryName);
  // A path the file layer cannot create fails its entry; it is never cut into another name.
  if (d.UnusableName) run.Host.ReportStatus(tooLong ? Status::kExtrPathTooLong : Status::kExtrErrCreat);
  EntryAction action = d.Action;
  if (action == EntryAction::kExtract && !CreateOutput(run)) action = d.WithoutOutput;
  if (action != EntryAction::kSkipFile) DecodeFile(run, action);
}

Next Walk(Run& run) {
  Next next = Next::kEnd;
  const WalkEnd end = ForEachEntry(run.Reader, run.Job, [&](WalkStep step) {
    ArchiveState& a = run.Reader.Archive;
    const bool adapted = run.Host.AdaptEntryName(a.File.HostOS, a.EntryName, sizeof a.EntryName);
    const bool nameFits = SanitizeEntryName(a.EntryName, sizeof a.EntryName) && adapted && !a.NameTooLong;
    // Only a header just read can reveal that the archive was opened past its first volume; a
    // volume used up at a block boundary still shows the entry that was being read.
    if (step == WalkStep::kEntry && (a.File.HeadFlags & kSplitBefore) && a.SolidArchive) {
      next = FindFirstVolume(run);
      return false;
    }
    HandleEntry(run, nameFits);
    return true;
  });
  if (end == WalkEnd::kMoveFailed) {
    run.ErrorCount += 1;
    return Next::kStartOver;
  }
  return next;
}

}  // namespace

void ApplyFileTimeAndAttributes(const FileHeader& header, OutputFile& output) {
  const FileHandle file = output.Data().Handle();
  SetPermissions(file, PermissionsOf(header), header.UnixMode);
  SetFileAttributesOf(file, output.TemporaryName(), header.FileAttr & kDosFileAttributes);
  SetFileTimesFromDos(file, header.FileTime);
}

std::int32_t RunExtraction(ArchiveReader& reader, UnpackState& unpack, ExtractionJob& job) {
  Run run(reader, unpack, job);
  reader.Reset();
  job.ErrorCount = 0;
  Next next = Next::kStartOver;
  while (next == Next::kStartOver) {
    run.UnpackWindow.reset();
    CloseFiles(run);
    next = Open(run) ? Walk(run) : Next::kReturnZero;
  }
  run.UnpackWindow.reset();
  CloseFiles(run);
  FinishFolders(run);
  // Each volume that ended inside a block failed the one entry (or block) it cut.
  run.ErrorCount += reader.CutVolumes;
  job.ErrorCount = run.ErrorCount;
  if (next == Next::kReturnZero) return 0;
  if (run.FilesDone == 0) {
    reader.Frontend.ReportStatus(Status::kExtrNoFiles);
    return 0;
  }
  reader.Frontend.ReportStatus(run.ErrorCount != 0 ? Status::kExtrTotalErr : Status::kExtrAllOk);
  return run.FilesDone;
}

}  // namespace korvane
