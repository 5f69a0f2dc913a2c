// Identification reads the signature, or searches for it behind a leading program; a move to
// the next volume reads that volume's continuing header and hands its packed data on.
#include "engine/volumes.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

#include "engine/archive_format.h"
#include "engine/file_ops.h"
#include "engine/status.h"

namespace korvane {
namespace {

static_assert(kNewSignature[0] == kOldSignature[0]);

bool StartsWith(const std::uint8_t* p, const std::uint8_t* sig, std::size_t n) { return std::memcmp(p, sig, n) == 0; }

bool ReadNewMainHeader(ArchiveReader& r) {
  r.Archive.Format = ArchiveFormat::kNew;
  return ReadHeaderBytes(r, HeaderKind::kMain) == kNewMainHeaderSize;
}

bool ReadOldMainHeaderAt(ArchiveReader& r, std::int64_t offset) {
  r.Archive.Format = ArchiveFormat::kOld;
  if (r.Input.Seek(offset, kSeekStart) < 0) return false;
  return ReadHeaderBytes(r, HeaderKind::kMain) == kOldMainHeaderSize;
}

// Looks for an archive behind a leading program (a self-extracting file).
bool FindArchiveBehindProgram(ArchiveReader& r) {
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kSfxSearchBuffer]);
  if (!buffer) return false;
  const std::uint8_t* b = buffer.get();
  const std::size_t n = r.Input.Read(buffer.get(), kSfxSearchFill);
  // Buffer index i is file offset 7 + i; the old layout's mark RSFX lies at file offset 28.
  constexpr std::size_t kRsfxIndex = 28 - 7;
  const bool hasRsfx = n >= kRsfxIndex + 4 && std::memcmp(b + kRsfxIndex, "RSFX", 4) == 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (b[i] != kNewSignature[0]) continue;  // the first byte of either signature
    const std::int64_t offset = static_cast<std::int64_t>(i) + 7;
    if (hasRsfx && i + 4 <= n && StartsWith(b + i, kOldSignature, 4))
      return ReadOldMainHeaderAt(r, offset);
    // The byte 9 behind the signature's start is the main header's type.
    if (i + 10 <= n && StartsWith(b + i, kNewSignature, 7) && b[i + 9] == kMainHead) {
      if (r.Input.Seek(offset + 7, kSeekStart) < 0) return false;
      return ReadNewMainHeader(r);
    }
  }
  return false;
}

// The move failed after telling the user why; the run stops at its next poll.
bool GiveUpOnVolume(ArchiveReader& r, ExtractionJob& job, Notice notice) {
  r.Frontend.Tell(notice, job.ArchiveName);
  job.Stop(AbortState::kEngineGaveUp);
  return false;
}

}  // namespace

bool OpenArchive(ArchiveReader& r, const ExtractionJob& job) {
  r.Input = File::OpenForReading(job.ArchiveName);
  if (!r.Input.IsOpen()) {
    r.Frontend.Tell(Notice::kCannotFind, job.ArchiveName);
    return false;
  }
  if (!IdentifyArchive(r)) {
    r.Frontend.Tell(Notice::kNotAnArchive, job.ArchiveName);
    r.Input.Close();
    return false;
  }
  SkipRestOfMainHeader(r);
  return true;
}

bool IdentifyArchive(ArchiveReader& r) {
  ArchiveState& a = r.Archive;
  a.Format = ArchiveFormat::kNone;
  a.SolidArchive = false;
  a.Main = MainHeader{};
  a.VolumeCut = false;
  std::uint8_t sig[7];
  if (r.Input.Read(sig, sizeof sig) != sizeof sig) return false;
  bool found;
  if (StartsWith(sig, kOldSignature, 4)) {
    found = ReadOldMainHeaderAt(r, 0);
  } else if (StartsWith(sig, kNewSignature, 7)) {
    found = ReadNewMainHeader(r);
  } else {
    found = FindArchiveBehindProgram(r);
  }
  if (!found) {
    a.Format = ArchiveFormat::kNone;
    return false;
  }
  if (a.Format == ArchiveFormat::kOld) {
    a.MainHeaderLength = kOldMainHeaderSize;
  } else {
    a.MainHeaderLength = kNewMainHeaderSize;
    if (!MainHeaderCrcMatches(r)) r.Frontend.ReportStatus(Status::kBrokArcHead);
  }
  a.SolidArchive = (a.Main.HeadFlags & kSolidArchiveFlag) != 0;
  return true;
}

void SkipRestOfMainHeader(ArchiveReader& r) {
  // A main header claiming to be shorter than its fixed part would seek backwards into the
  // signature; nothing of it is to be skipped then.
  const std::uint32_t size = r.Archive.Main.HeadSize;
  if (size > r.Archive.MainHeaderLength)
    r.Input.Seek(size - r.Archive.MainHeaderLength, kSeekCurrent);
  // The first block starts here: a volume shorter than that ends inside its main header.
  const std::int64_t end = r.Input.Position();
  r.Archive.NextBlockPos = end < 0 ? 0 : static_cast<std::uint32_t>(end);
}

bool FindFirstVolumeName(char* name, std::size_t capacity) {
  for (const char* extension : {"rar", "exe"})
    if (ReplaceExtension(name, capacity, extension) && PathExists(name)) return true;
  return false;
}

bool OpenNextVolume(ArchiveReader& r, ExtractionJob& job, bool insideData) {
  if (!job.Running()) return false;
  r.Input.Close();
  if (AdvanceVolumeName(job.ArchiveName, sizeof job.ArchiveName)) r.Input = File::OpenForReading(job.ArchiveName);
  if (!r.Input.IsOpen()) {
    if (!job.Running()) return false;
    return GiveUpOnVolume(r, job, Notice::kCannotFind);
  }
  if (!IdentifyArchive(r)) {
    r.Frontend.ReportStatus(Status::kBadArc);
    return GiveUpOnVolume(r, job, Notice::kCorruptVolume);
  }
  r.Frontend.ReportStatus(job.Mode == JobMode::kInstall ? Status::kExtrVol : Status::kTestVol);
  SkipRestOfMainHeader(r);
  // A volume without a continuing entry header is as unusable as one without a signature:
  // reading on would take packed data from a position computed for the previous volume.
  if (NextBlock(r, kFileHead, false) == 0) return GiveUpOnVolume(r, job, Notice::kCorruptVolume);
  if (insideData) r.Frontend.ReportStatus(Status::kExtrPoints);
  const FileHeader& h = r.Archive.File;
  r.EntryContinues = (h.HeadFlags & kSplitAfter) != 0;
  r.Input.Seek(r.Archive.NextBlockPos - h.PackSize, kSeekStart);
  r.PackedLeft = h.PackSize;
  job.CurrentVolume += 1;
  r.Frontend.ShowProgress();
  return true;
}

}  // namespace korvane
