#include "engine/volumes.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "engine/archive_format.h"
#include "engine/file_ops.h"
#include "engine/status.h"

namespace korvane {
namespace {

bool StartsWith(const std::uint8_t* p, const std::uint8_t* sig, std::size_t n) { return std::memcmp(p, sig, n) == 0; }

bool ReadNewMainHeader(EngineState& e) {
  e.Archive.Format = ArchiveFormat::kNew;
  return ReadHeaderBytes(e, HeaderKind::kMain) == kNewMainHeaderSize;
}

bool ReadOldMainHeaderAt(EngineState& e, std::int64_t offset) {
  e.Archive.Format = ArchiveFormat::kOld;
  if (SeekFile(e.Session.InputFile, offset, kSeekStart) < 0) return false;
  return ReadHeaderBytes(e, HeaderKind::kMain) == kOldMainHeaderSize;
}

// Looks for an archive behind a leading program (a self-extracting file).
bool FindArchiveBehindProgram(EngineState& e) {
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kSfxSearchBuffer]);
  if (!buffer) return false;
  const std::uint8_t* b = buffer.get();
  const std::size_t n = ReadFileBytes(e.Session.InputFile, buffer.get(), kSfxSearchFill);
  // Buffer index i is file offset 7 + i; the old layout's mark RSFX lies at file offset 28.
  constexpr std::size_t kRsfxIndex = 28 - 7;
  const bool hasRsfx = n >= kRsfxIndex + 4 && std::memcmp(b + kRsfxIndex, "RSFX", 4) == 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (b[i] != 0x52) continue;
    const std::int64_t offset = static_cast<std::int64_t>(i) + 7;
    if (hasRsfx && i + 4 <= n && StartsWith(b + i, kOldSignature, 4))
      return ReadOldMainHeaderAt(e, offset);
    // The byte 9 behind the signature's start is the main header's type.
    if (i + 10 <= n && StartsWith(b + i, kNewSignature, 7) && b[i + 9] == kMainHead) {
      if (SeekFile(e.Session.InputFile, offset + 7, kSeekStart) < 0) return false;
      return ReadNewMainHeader(e);
    }
  }
  return false;
}

void ShowVolumeBox(EngineState& e, ExtractionJob& job, const char* format) {
  char text[sizeof job.ArchiveName + 64];
  std::snprintf(text, sizeof text, format, job.ArchiveName);
  e.Frontend.ShowMessageBox(job.ProgressWindow, text, "Zendril 1997", kMbOk | kMbIconStop);
}

}  // namespace

bool IdentifyArchive(EngineState& e) {
  ArchiveState& a = e.Archive;
  a.Format = ArchiveFormat::kNone;
  a.SolidArchive = false;
  a.Main = MainHeader{};
  std::uint8_t sig[7];
  if (ReadFileBytes(e.Session.InputFile, sig, sizeof sig) != sizeof sig) return false;
  bool found;
  if (StartsWith(sig, kOldSignature, 4)) {
    found = ReadOldMainHeaderAt(e, 0);
  } else if (StartsWith(sig, kNewSignature, 7)) {
    found = ReadNewMainHeader(e);
  } else {
    found = FindArchiveBehindProgram(e);
  }
  if (!found) {
    a.Format = ArchiveFormat::kNone;
    return false;
  }
  if (a.Format == ArchiveFormat::kOld) {
    a.MainHeaderLength = kOldMainHeaderSize;
  } else {
    a.MainHeaderLength = kNewMainHeaderSize;
    if (!MainHeaderCrcMatches(e)) e.Frontend.ReportStatus(status::kBrokArcHead);
  }
  a.SolidArchive = (a.Main.HeadFlags & kSolidArchiveFlag) != 0;
  return true;
}

void SkipRestOfMainHeader(EngineState& e) {
  // A main header claiming to be shorter than its fixed part would seek backwards into the
  // signature; nothing of it is to be skipped then.
  const std::uint32_t size = e.Archive.Main.HeadSize;
  if (size > e.Archive.MainHeaderLength)
    SeekFile(e.Session.InputFile, size - e.Archive.MainHeaderLength, kSeekCurrent);
}

bool AdvanceVolumeName(char* name, std::size_t capacity) {
  if (std::strlen(name) + 4 >= capacity) return false;
  char* dot = FindExtensionDot(name);
  if (dot == nullptr || dot[1] == '\0' || CompareNoCase(dot + 1, "exe") == 0) {
    ReplaceExtension(name, capacity, "rar");
    dot = FindExtensionDot(name);
  }
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (dot[1] != '\0' && isDigit(dot[2]) && isDigit(dot[3])) {
    char* p = dot + 3;
    ++*p;
    // Only a digit that ran over becomes '0' and carries; the first character after the dot
    // is incremented as a plain byte (r -> s), except that a digit there runs over into 'A'.
    while (*p == '9' + 1) {
      if (p - 1 == dot) {
        *p = 'A';
        break;
      }
      *p = '0';
      --p;
      ++*p;
    }
  } else {
    dot[2] = '0';
    dot[3] = '0';
    dot[4] = '\0';
  }
  return true;
}

bool OpenNextVolume(EngineState& e, ExtractionJob& job, bool insideData) {
  if (job.Abort.load() != 0) return false;
  CloseFileHandle(e.Session.InputFile);
  e.Session.InputFile = kNoFile;
  const bool named = AdvanceVolumeName(job.ArchiveName, sizeof job.ArchiveName);
  const FileHandle next = named ? OpenFileForReading(job.ArchiveName) : kFailedFile;
  if (!IsOpenFile(next)) {
    if (job.Abort.load() != 0) return false;
    ShowVolumeBox(e, job, "Cannot find:\n%s");
    job.Abort.store(1);
    return false;
  }
  e.Session.InputFile = next;
  if (!IdentifyArchive(e)) {
    e.Frontend.ReportStatus(status::kBadArc);
    ShowVolumeBox(e, job, "This archive is corrupt:\n%s");
    job.Abort.store(1);
    return false;
  }
  e.Frontend.ReportStatus(e.Mode == 'X' ? status::kExtrVol : status::kTestVol);
  SkipRestOfMainHeader(e);
  // A volume without a continuing entry header is as unusable as one without a signature:
  // reading on would take packed data from a position computed for the previous volume.
  if (NextBlock(e, kFileHead, false) == 0) {
    ShowVolumeBox(e, job, "This archive is corrupt:\n%s");
    job.Abort.store(1);
    return false;
  }
  if (insideData) e.Frontend.ReportStatus(status::kExtrPoints);
  const FileHeader& h = e.Archive.File;
  e.Session.EntryContinues = (h.HeadFlags & kSplitAfter) != 0;
  SeekFile(e.Session.InputFile, e.Archive.NextBlockPos - h.PackSize, kSeekStart);
  e.Session.PackedLeft = h.PackSize;
  job.CurrentVolume += 1;
  e.Frontend.SendProgressMessage(job.ProgressWindow, 0, 0);
  return true;
}

void MakeDirectories(EngineState& e, char* path) {
  for (char* c = path; *c != '\0'; ++c) {
    if (*c != '\\' && *c != '/') continue;
    *c = '\0';
    // An empty prefix (a leading separator) or a drive fails and is ignored, like an existing one.
    if (path[0] != '\0' && CreateDirectoryPath(path) == DirResult::kCreated) e.Frontend.ReportStatus(status::kCreatDir);
    *c = '\\';
  }
}

}  // namespace korvane
