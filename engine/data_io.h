// Between the decoders and the disk: packed input across volumes, unpacked output with its
// running checksum and progress, the stored-entry copy, and output-file creation with the
// overwrite question.
#pragma once
#include <cstdint>

#include "engine/engine_state.h"
#include "engine/job.h"
#include "unpack/unpack_io.h"

namespace korvane {

inline constexpr std::uint32_t kStoredCopyBlock = 32512;

// Up to count packed bytes of the current entry, moving to the next volume inside the request
// when the entry continues there. 0 when Abort is set (bytes already read are dropped).
std::uint32_t ReadPackedData(EngineState& e, ExtractionJob& job, std::uint8_t* buffer, std::uint32_t count);
// Writes (or in a test run only counts) count bytes, keeps the checksum, reports progress.
std::uint32_t WriteUnpackedData(EngineState& e, ExtractionJob& job, const std::uint8_t* buffer, std::uint32_t count);
// The decoder of stored entries: copies at most the unpacked size, leaving the window alone.
void CopyStoredData(EngineState& e, ExtractionJob& job);

// done * 100 / total on signed values, scaled down above 10000 as the installer always did.
std::int32_t PercentOf(std::int32_t done, std::int32_t total);
void ReportFileProgress(EngineState& e, ExtractionJob& job);

// Creates name for writing; asks before replacing an existing file unless the user already
// answered OK for the whole run. refused is set when the user declined (Cancel).
FileHandle CreateOutputFile(EngineState& e, void* ownerWindow, char* name, bool& refused);

// The unpackers' view of the engine: one virtual call per refill and per flush.
class EngineUnpackIo final : public UnpackIo {
 public:
  EngineUnpackIo(EngineState& e, ExtractionJob& job)
      : UnpackIo(job.Abort, e.Session.RemainingOutput), engine_(e), job_(job) {}
  std::uint32_t ReadPackedData(std::uint8_t* buffer, std::uint32_t count) override {
    return korvane::ReadPackedData(engine_, job_, buffer, count);
  }
  std::uint32_t WriteUnpackedData(const std::uint8_t* buffer, std::uint32_t count) override {
    return korvane::WriteUnpackedData(engine_, job_, buffer, count);
  }

 private:
  EngineState& engine_;
  ExtractionJob& job_;
};

}  // namespace korvane
