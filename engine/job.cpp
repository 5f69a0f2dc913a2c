#include "engine/job.h"

#include <cstring>
#include <string>

namespace korvane {

bool PrepareJob(ExtractionJob& job, JobMode mode, std::string_view archiveName, std::string_view destination) {
  // AdvanceVolumeName turns name into name.r00 at most, and needs its result to fit.
  if (archiveName.size() + 4 >= sizeof job.ArchiveName) return false;
  std::string prefix(destination);  // destination may be the job's own field
  if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/') prefix.push_back('\\');
  if (prefix.size() >= sizeof job.DestinationDir) return false;
  std::memset(job.ArchiveName, 0, sizeof job.ArchiveName);
  std::memcpy(job.ArchiveName, archiveName.data(), archiveName.size());
  std::memcpy(job.DestinationDir, prefix.c_str(), prefix.size() + 1);
  job.Mode = mode;
  job.CurrentVolume = 1;
  job.Stop(AbortState::kRunning);
  return true;
}

}  // namespace korvane
