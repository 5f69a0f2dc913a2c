#include "engine/space_check.h"

#include "engine/archive_reader.h"
#include "engine/entry_walk.h"
#include "engine/volumes.h"

namespace korvane {
namespace {

// The sum is a look ahead, not the job: a missing volume is the job's to tell.
class SilentHost final : public Host {
 public:
  int ShowMessageBox(void*, const char*, const char*, std::uint32_t) override { return kIdCancel; }
  void SendProgressMessage(void*, std::uintptr_t, std::intptr_t) override {}
  void ReportStatus(const char*) override {}
};

}  // namespace

SpaceCheck CheckFreeSpace(const char* archiveName, const char* destination) {
  SpaceCheck check;
  check.Free = FreeBytesAt(destination);
  ExtractionJob job;
  SilentHost host;
  ArchiveReader reader(host);
  if (!PrepareJob(job, 'T', archiveName, "") || !OpenArchive(reader, job, nullptr)) return check;
  const WalkEnd end = ForEachEntry(reader, job, [&](WalkStep step) {
    const FileHeader& h = reader.Archive.File;
    // A split file counts once, with the size its first part gives for the whole.
    if (step == WalkStep::kEntry && (h.HeadFlags & kSplitBefore) == 0 && (h.FileAttr & (0x08 | 0x10)) == 0)
      check.Needed += h.UnpSize;
    return true;
  });
  check.Known = end == WalkEnd::kEnd && job.Abort.load() == kRunning;
  return check;
}

}  // namespace korvane
