#include "engine/data_io.h"

#include <algorithm>
#include <cstdio>

#include "engine/checksum.h"
#include "engine/file_ops.h"
#include "engine/status.h"
#include "engine/volumes.h"
#include "platform/disk_space.h"

namespace korvane {
namespace {

void ReportFileProgress(const ArchiveReader& reader, const UnpackSession& session, ExtractionJob& job) {
  const std::int32_t percent = PercentOf(static_cast<std::int32_t>(session.BytesWritten),
                                         static_cast<std::int32_t>(reader.Archive.File.UnpSize));
  job.FileProgress = static_cast<float>(percent) * 0.01f;
  reader.Frontend.ShowProgress();
}

}  // namespace

std::uint32_t ReadPackedData(ArchiveReader& reader, ExtractionJob& job, std::uint8_t* buffer, std::uint32_t count) {
  std::uint32_t delivered = 0;
  if (!job.Running()) return 0;
  while (count > 0) {
    if (!job.Running()) return 0;
    const std::uint32_t want = std::min(count, reader.PackedLeft);
    const std::uint32_t got = want == 0 ? 0 : reader.Input.Read(buffer + delivered, want);
    delivered += got;
    count -= got;
    reader.PackedLeft -= got;
    // Stop when this volume still owes bytes (the request is served, or the volume is
    // shorter than its header said) or when the entry does not go on.
    if (reader.PackedLeft > 0 || !reader.EntryContinues) break;
    // A failure sets Abort, which the next round sees.
    OpenNextVolume(reader, job, true);
  }
  return delivered;
}

std::uint32_t WriteUnpackedData(ArchiveReader& reader, UnpackSession& session, ExtractionJob& job,
                                const std::uint8_t* buffer, std::uint32_t count) {
  if (!job.Running()) return 0;
  if (!session.TestOnly && !session.WriteFailed && session.Output.Data().WriteRaw(buffer, count) != count) {
    session.WriteFailed = true;
    session.DiskFull = LastWriteFailedForSpace();
    if (session.DiskFull) {
      reader.Frontend.Tell(Notice::kDiskFull, job.CurrentFile);
      job.Stop(AbortState::kEngineGaveUp);
      return 0;
    }
    reader.Frontend.Tell(Notice::kWriteError, nullptr);
  }
  session.BytesWritten += count;
  if (!session.SkipChecksum) {
    const ChecksumKind kind = reader.Archive.Format == ArchiveFormat::kOld ? ChecksumKind::kOld : ChecksumKind::kCrc32;
    session.Checksum = UpdateChecksum(session.Checksum, buffer, count, kind);
  }
  ReportFileProgress(reader, session, job);
  return count;
}

void CopyStoredData(ArchiveReader& reader, UnpackSession& session, ExtractionJob& job) {
  // A buffer of its own, not the unpackers' window: in a solid archive a stored entry may
  // stand between compressed ones, and the next of those still reaches back into the window.
  std::uint8_t buffer[kStoredCopyBlock];
  std::int32_t& remaining = session.RemainingOutput;
  while (job.Running()) {
    std::uint32_t n = ReadPackedData(reader, job, buffer, kStoredCopyBlock);
    if (n == 0) break;
    session.StoredPacked += n;
    // A negative remainder (an unpacked size beyond 2 GiB) would, if used as a count, write
    // far past the buffer; it only means "no limit known", as the subtraction below agrees.
    if (remaining >= 0 && static_cast<std::int64_t>(n) >= remaining) n = static_cast<std::uint32_t>(remaining);
    WriteUnpackedData(reader, session, job, buffer, n);
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

}  // namespace korvane
