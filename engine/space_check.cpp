#include "engine/space_check.h"

#include "engine/archive_reader.h"
#include "engine/entry_walk.h"
#include "engine/volumes.h"

namespace korvane {

SpaceCheck CheckFreeSpace(const char* archiveName, const char* destination) {
  SpaceCheck check;
  check.Free = FreeBytesAt(destination);
  ExtractionJob job;
  SilentHost host;  // the sum is a look ahead: a missing volume is the job's to tell
  ArchiveReader reader(host);
  if (!PrepareJob(job, JobMode::kTest, archiveName, "") || !OpenArchive(reader, job)) return check;
  const WalkEnd end = ForEachEntry(reader, job, [&](WalkStep step) {
    const FileHeader& h = reader.Archive.File;
    // A split file counts once, with the size its first part gives for the whole.
    if (step == WalkStep::kEntry && (h.HeadFlags & kSplitBefore) == 0 && (h.FileAttr & (0x08 | 0x10)) == 0)
      check.Needed += h.UnpSize;
    return true;
  });
  check.Known = end == WalkEnd::kEnd && job.Running();
  return check;
}

}  // namespace korvane
