// Fuzz target "archive": identification (with the search behind a leading program), the walk
// over every block in both modes, and the packed-data reader of each entry. The engine reads
// files, so each input is written to a temporary archive first.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/archive_format.h"
#include "engine/data_io.h"
#include "engine/engine_state.h"
#include "engine/job.h"
#include "engine/volumes.h"
#include "tests/fuzz/quiet_host.h"

namespace {

using korvane::fuzzing::QuietHost;

std::string TempArchive() {
  static const std::string path = [] {
    std::error_code ec;
    auto dir = std::filesystem::temp_directory_path(ec);
    return (dir / ("korvane-archive-fuzz-" + std::to_string(reinterpret_cast<std::uintptr_t>(&ec) & 0xFFFFF) + ".rar"))
        .string();
  }();
  return path;
}

void Walk(korvane::EngineState& e, korvane::ExtractionJob& job, const std::string& path, bool acceptSubBlocks) {
  using namespace korvane;
  std::strcpy(job.ArchiveName, path.c_str());
  job.Abort = 0;
  e.CloseFiles();
  e.Session.InputFile = OpenFileForReading(path.c_str());
  if (!IdentifyArchive(e)) return;
  SkipRestOfMainHeader(e);
  static std::uint8_t buffer[8192];
  for (int entries = 0; entries < 4096; ++entries) {
    if (NextBlock(e, kFileHead, acceptSubBlocks) == 0) break;
    if (e.Archive.Block.HeadType == kSubBlock) {
      SeekFile(e.Session.InputFile, e.Archive.NextBlockPos, kSeekStart);
      continue;
    }
    const FileHeader& h = e.Archive.File;
    SeekFile(e.Session.InputFile, e.Archive.NextBlockPos - h.PackSize, kSeekStart);
    e.Session.PackedLeft = h.PackSize;
    e.Session.EntryContinues = (h.HeadFlags & kSplitAfter) != 0;
    e.Session.TestOnly = true;
    // A few refills are enough to reach the volume move; whole multi-GiB entries are not read.
    for (int refill = 0; refill < 8 && ReadPackedData(e, job, buffer, sizeof buffer) != 0; ++refill) {
    }
    if (job.Abort.load() != 0 || !IsOpenFile(e.Session.InputFile)) break;
    SeekFile(e.Session.InputFile, e.Archive.NextBlockPos, kSeekStart);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = TempArchive();
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  QuietHost host;
  korvane::EngineState engine(host);
  static korvane::ExtractionJob job;
  Walk(engine, job, path, true);
  Walk(engine, job, path, false);
  engine.CloseFiles();
  std::remove(path.c_str());
  return 0;
}
