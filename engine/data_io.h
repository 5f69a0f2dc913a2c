// Between the decoders and the disk: packed input across volumes, unpacked output with its
// running checksum and progress, and the stored-entry copy.
#pragma once
#include <cstdint>

#include "engine/archive_reader.h"
#include "engine/job.h"
#include "engine/output_file.h"
#include "unpack/unpack_io.h"

namespace korvane {

inline constexpr std::uint32_t kStoredCopyBlock = 32512;

// The output side of the entry being decoded; the driver fills it before each entry. The
// packed side (what is left in this volume, whether the entry goes on) is the reader's.
struct UnpackSession {
  std::int32_t RemainingOutput = 0;
  std::uint32_t BytesWritten = 0;
  std::uint32_t Checksum = 0;  // 16-bit sum (old) or CRC-32 (new) of the output so far
  bool SkipChecksum = false;   // decoded only for the solid dictionary
  bool TestOnly = false;       // output counted and checksummed, not written
  bool WriteFailed = false;    // a write of this entry failed; nothing more is written to it
  bool DiskFull = false;       // ... because the disk is full, which ends the job
  std::uint64_t StoredPacked = 0;  // packed bytes the stored copy took, all parts together
  OutputFile Output;           // the entry's file while it is being written
};

// Up to count packed bytes of the current entry, moving to the next volume inside the request
// when the entry continues there. 0 when Abort is set (bytes already read are dropped).
std::uint32_t ReadPackedData(ArchiveReader& reader, ExtractionJob& job, std::uint8_t* buffer, std::uint32_t count);
// Writes (or in a test run only counts) count bytes, keeps the checksum, reports progress.
// A failed write is told once per entry: a full disk as kDiskFull naming the file, which also
// ends the job (Abort); any other error as kWriteError, and the entry goes on being
// decoded without output, as a solid archive's later entries need its data.
std::uint32_t WriteUnpackedData(ArchiveReader& reader, UnpackSession& session, ExtractionJob& job,
                                const std::uint8_t* buffer, std::uint32_t count);
// The decoder of stored entries: copies at most the unpacked size, leaving the window alone.
void CopyStoredData(ArchiveReader& reader, UnpackSession& session, ExtractionJob& job);

// done * 100 / total on signed values, scaled down above 10000 as the installer always did.
std::int32_t PercentOf(std::int32_t done, std::int32_t total);

// The unpackers' view of the engine: one virtual call per refill and per flush.
class EngineUnpackIo final : public UnpackIo {
 public:
  EngineUnpackIo(ArchiveReader& reader, UnpackSession& session, ExtractionJob& job)
      : UnpackIo(job.Abort, session.RemainingOutput), Reader(reader), Session(session), Job(job) {}
  std::uint32_t ReadPackedData(std::uint8_t* buffer, std::uint32_t count) override {
    return korvane::ReadPackedData(Reader, Job, buffer, count);
  }
  std::uint32_t WriteUnpackedData(const std::uint8_t* buffer, std::uint32_t count) override {
    return korvane::WriteUnpackedData(Reader, Session, Job, buffer, count);
  }

 private:
  ArchiveReader& Reader;
  UnpackSession& Session;
  ExtractionJob& Job;
};

}  // namespace korvane
