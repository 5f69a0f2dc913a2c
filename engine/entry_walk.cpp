#include "engine/entry_walk.h"

#include "engine/volumes.h"

namespace korvane {

WalkStep NextEntry(ArchiveReader& reader, ExtractionJob& job) {
  ArchiveState& a = reader.Archive;
  for (;;) {
    if (!job.Running()) return WalkStep::kEnd;
    const std::uint32_t size = NextBlock(reader, kFileHead, true);
    if (size == 0 && !reader.EntryContinues) return WalkStep::kEnd;
    if (a.Block.HeadType == kSubBlock) {
      reader.Input.Seek(a.NextBlockPos, kSeekStart);
      continue;
    }
    // A volume used up at a block boundary while its last entry goes on: the rest of that
    // entry starts the next volume.
    const bool moved = size == 0;
    if (moved && !OpenNextVolume(reader, job, false)) return WalkStep::kMoveFailed;
    reader.EntryContinues = (a.File.HeadFlags & kSplitAfter) != 0;
    reader.Input.Seek(a.NextBlockPos - a.File.PackSize, kSeekStart);
    return moved ? WalkStep::kContinuation : WalkStep::kEntry;
  }
}

}  // namespace korvane
