// Fuzz target "archive": identification (with the search behind a leading program), the walk
// over every block in both modes, and the packed-data reader of each entry.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/archive_format.h"
#include "engine/data_io.h"
#include "engine/job.h"
#include "engine/volumes.h"
#include "tests/fuzz/engine_target.h"

namespace {

using korvane::fuzzing::QuietHost;

void Walk(korvane::ArchiveReader& r, korvane::ExtractionJob& job, const std::string& path, bool acceptSubBlocks) {
  using namespace korvane;
  std::strcpy(job.ArchiveName, path.c_str());
  job.Stop(AbortState::kRunning);
  r.Reset();
  r.Input = File::OpenForReading(path.c_str());
  if (!IdentifyArchive(r)) return;
  SkipRestOfMainHeader(r);
  static std::uint8_t buffer[8192];
  for (int entries = 0; entries < 4096; ++entries) {
    if (NextBlock(r, kFileHead, acceptSubBlocks) == 0) break;
    if (r.Archive.Block.HeadType == kSubBlock) {
      r.Input.Seek(r.Archive.NextBlockPos, kSeekStart);
      continue;
    }
    const FileHeader& h = r.Archive.File;
    r.Input.Seek(r.Archive.NextBlockPos - h.PackSize, kSeekStart);
    r.PackedLeft = h.PackSize;
    r.EntryContinues = (h.HeadFlags & kSplitAfter) != 0;
    // A few refills are enough to reach the volume move; whole multi-GiB entries are not read.
    for (int refill = 0; refill < 8 && ReadPackedData(r, job, buffer, sizeof buffer) != 0; ++refill) {
    }
    if (!job.Running() || !r.Input.IsOpen()) break;
    r.Input.Seek(r.Archive.NextBlockPos, kSeekStart);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = korvane::fuzzing::WriteTempArchive("archive", data, size);
  if (path.empty()) return 0;
  QuietHost host;
  korvane::ArchiveReader reader(host);
  static korvane::ExtractionJob job;
  Walk(reader, job, path, true);
  Walk(reader, job, path, false);
  reader.Reset();
  std::remove(path.c_str());
  return 0;
}
