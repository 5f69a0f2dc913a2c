#include "engine/data_io.h"

#include <algorithm>

#include "engine/checksum.h"
#include "engine/file_ops.h"
#include "engine/status.h"
#include "engine/volumes.h"

namespace korvane {

std::uint32_t ReadPackedData(EngineState& e, ExtractionJob& job, std::uint8_t* buffer, std::uint32_t count) {
  UnpackSession& s = e.Session;
  std::uint32_t delivered = 0;
  if (job.Abort.load() != 0) return 0;
  while (count > 0) {
    if (job.Abort.load() != 0) return 0;
    const std::uint32_t want = std::min(count, s.PackedLeft);
    const std::uint32_t got = want == 0 ? 0 : ReadFileBytes(s.InputFile, buffer + delivered, want);
    delivered += got;
    count -= got;
    s.PackedLeft -= got;
    // Stop when this volume still owes bytes (the request is served, or the volume is
    // shorter than its header said) or when the entry does not go on.
    if (s.PackedLeft > 0 || !s.EntryContinues) break;
    // A failure sets Abort, which the next round sees.
    OpenNextVolume(e, job, true);
  }
  return delivered;
}

std::uint32_t WriteUnpackedData(EngineState& e, ExtractionJob& job, const std::uint8_t* buffer, std::uint32_t count) {
  UnpackSession& s = e.Session;
  if (job.Abort.load() != 0) return 0;
  const std::uint32_t written = s.TestOnly ? count : WriteFileBytes(e.Frontend, s.OutputFile, buffer, count);
  s.BytesWritten += written;
  if (!s.SkipChecksum)
    s.Checksum = UpdateChecksum(s.Checksum, buffer, written,
                                e.Archive.Format == ArchiveFormat::kOld ? kChecksumOld : kChecksumCrc32);
  ReportFileProgress(e, job);
  return written;
}

void CopyStoredData(EngineState& e, ExtractionJob& job) {
  // A buffer of its own, not the unpackers' window: in a solid archive a stored entry may
  // stand between compressed ones, and the next of those still reaches back into the window.
  std::uint8_t buffer[kStoredCopyBlock];
  std::int32_t& remaining = e.Session.RemainingOutput;
  while (job.Abort.load() == 0) {
    std::uint32_t n = ReadPackedData(e, job, buffer, kStoredCopyBlock);
    if (n == 0) break;
    // A negative remainder (an unpacked size beyond 2 GiB) would, if used as a count, write
    // far past the buffer; it only means "no limit known", as the subtraction below agrees.
    if (remaining >= 0 && static_cast<std::int64_t>(n) >= remaining) n = static_cast<std::uint32_t>(remaining);
    WriteUnpackedData(e, job, buffer, n);
    if (remaining >= 0) remaining -= static_cast<std::int32_t>(n);
  }
}

std::int32_t PercentOf(std::int32_t done, std::int32_t total) {
  if (done > 10000) {
    done /= 100;
    total /= 100;
  }
  if (total == 0) return 0;
  if (total < done) return 100;
  // 64-bit product: done may be negative and large when a size passed 2 GiB.
  return static_cast<std::int32_t>(static_cast<std::int64_t>(done) * 100 / total);
}

void ReportFileProgress(EngineState& e, ExtractionJob& job) {
  const std::int32_t percent = PercentOf(static_cast<std::int32_t>(e.Session.BytesWritten),
                                         static_cast<std::int32_t>(e.Archive.File.UnpSize));
  job.FileProgress = static_cast<float>(percent) * 0.01f;
  e.Frontend.SendProgressMessage(job.ProgressWindow, 0, 0);
}

FileHandle CreateOutputFile(EngineState& e, void* ownerWindow, char* name, bool& refused) {
  refused = false;
  if (PathExists(name) && !e.OverwriteAll) {
    e.Frontend.ReportStatus(status::kFileExists);
    if (e.Frontend.ShowMessageBox(ownerWindow, "Overwrite all files:", "Zendril 97", kMbOkCancel | kMbIconStop) != kIdOk) {
      refused = true;
      return kFailedFile;
    }
    e.OverwriteAll = true;
  }
  FileHandle f = CreateFileForWriting(name, CreateMode::kCreateNew);
  if (!IsOpenFile(f)) {
    MakeDirectories(e, name);
    f = CreateFileForWriting(name, CreateMode::kCreateAlways);
  }
  return f;
}

}  // namespace korvane
