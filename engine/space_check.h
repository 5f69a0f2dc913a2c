// Will the installation fit? The unpacked sizes of an archive's files through all its volumes
// against the free space at the destination, asked before anything is written.
#pragma once
#include <cstdint>

#include "engine/job.h"
#include "platform/disk_space.h"

namespace korvane {

// Each file is written in full beside the one it replaces (which the installer even keeps until
// the job ends), so the old files' room is never counted as free: the sum of all files is what
// a run needs at its fullest, whichever files exist already.
struct SpaceCheck {
  std::uint64_t Needed = 0;                 // bytes of all files, directories and labels aside
  std::uint64_t Free = kUnknownFreeSpace;   // at the destination
  bool Known = false;                       // the walk went through the whole archive

  // A check that could not be made (a volume missing, say) is no reason to stop: the job
  // itself will say what is wrong.
  bool Fits() const { return !Known || Free == kUnknownFreeSpace || Needed <= Free; }
  static std::uint64_t Megabytes(std::uint64_t bytes) { return (bytes + (1u << 20) - 1) >> 20; }
};

// Walks the headers of the archive archiveName (the first volume) through all its volumes,
// telling the user nothing, and asks the file system at destination.
SpaceCheck CheckFreeSpace(const char* archiveName, const char* destination);

}  // namespace korvane
