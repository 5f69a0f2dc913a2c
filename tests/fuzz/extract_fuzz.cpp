// Fuzz target "extract": a whole test run of the extraction driver over one mutated archive,
// decoding every entry with the stored copy or the unpackers. The driver opens files by name,
// so each input is written to a temporary archive first.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/archive_reader.h"
#include "engine/extraction.h"
#include "engine/job.h"
#include "tests/fuzz/quiet_host.h"
#include "unpack/unpack_state.h"

using korvane::fuzzing::QuietHost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    std::error_code ec;
    const auto dir = std::filesystem::temp_directory_path(ec);
    int marker = 0;
    return (dir / ("korvane-extract-fuzz-" + std::to_string(reinterpret_cast<std::uintptr_t>(&marker) & 0xFFFFF) + ".rar"))
        .string();
  }();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);

  static auto unpack = std::make_unique<korvane::UnpackState>();
  static auto job = std::make_unique<korvane::ExtractionJob>();
  QuietHost host;
  korvane::ArchiveReader reader(host);
  std::snprintf(job->ArchiveName, sizeof job->ArchiveName, "%s", path.c_str());
  job->Abort = 0;
  job->CurrentVolume = 1;
  job->DestinationDir[0] = '\0';
  korvane::RunExtraction(reader, *unpack, nullptr, *job);
  std::remove(path.c_str());
  return 0;
}
