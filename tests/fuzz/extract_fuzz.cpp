// Fuzz target "extract": a whole test run of the extraction driver over one mutated archive,
// decoding every entry with the stored copy or the unpackers.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/archive_reader.h"
#include "engine/extraction.h"
#include "engine/job.h"
#include "tests/fuzz/engine_target.h"
#include "unpack/unpack_state.h"

using korvane::fuzzing::QuietHost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = korvane::fuzzing::WriteTempArchive("extract", data, size);
  if (path.empty()) return 0;
  static auto unpack = std::make_unique<korvane::UnpackState>();
  static auto job = std::make_unique<korvane::ExtractionJob>();
  QuietHost host;
  korvane::ArchiveReader reader(host);
  std::snprintf(job->ArchiveName, sizeof job->ArchiveName, "%s", path.c_str());
  job->Stop(korvane::AbortState::kRunning);
  job->CurrentVolume = 1;
  job->DestinationDir[0] = '\0';
  korvane::RunExtraction(reader, *unpack, *job);
  std::remove(path.c_str());
  return 0;
}
