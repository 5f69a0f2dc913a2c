// The engine's statuses and their fixed identifiers, handed to Host::ReportStatus and never
// shown by the engine. The spellings are the system's own and are matched by callers (the
// command-line tool prints them with -v, tests compare them), so keep them.
#pragma once
#include <cstddef>
#include <iterator>

namespace korvane {

enum class Status {
  kUnexpEOF,
  kBrokFileHead,
  kBrokArcHead,
  kBadArc,
  kTestVol,
  kExtrVol,
  kExtrPoints,
  kFileExists,
  kCreatDir,
  kExtrErrMkDir,
  kExtrTestDir,
  kExtrSkipDir,
  kExtrUnknMeth,
  kExtrErrCreat,
  kExtrErrWrite,     // ours: a write failed, not the checksum
  kExtrPathTooLong,  // ours: beyond the path limit
  kExtrThroughLink,  // ours: a folder on the way is a link
  kExtrBadSize,      // ours: a stored entry's sizes differ
  kExtrFile,
  kExtrTestFile,
  kExtrSkipFile,
  kExtrOk,
  kExtrBadCRC,
  kEncrBadCRC,
  kExtrAllOk,
  kExtrTotalErr,
  kExtrNoFiles,
  kMissingFirstVolume,
  kNoFilesFatal,
};

struct StatusEntry {
  Status Value;
  const char* Name;
};
inline constexpr StatusEntry kStatusNames[] = {
    {Status::kUnexpEOF, "MUnexpEOF"},
    {Status::kBrokFileHead, "MBrokFileHead"},
    {Status::kBrokArcHead, "MBrokArcHead"},
    {Status::kBadArc, "MBadArc"},
    {Status::kTestVol, "MTestVol"},
    {Status::kExtrVol, "MExtrVol"},
    {Status::kExtrPoints, "MExtrPoints"},
    {Status::kFileExists, "MFileExists"},
    {Status::kCreatDir, "MCreatDir"},
    {Status::kExtrErrMkDir, "MExtrErrMkDir"},
    {Status::kExtrTestDir, "MExtrTestDir"},
    {Status::kExtrSkipDir, "MExtrSkipDir"},
    {Status::kExtrUnknMeth, "MExtrUnknMeth"},
    {Status::kExtrErrCreat, "MExtrErrCreat"},
    {Status::kExtrErrWrite, "MExtrErrWrite"},
    {Status::kExtrPathTooLong, "MExtrPathTooLong"},
    {Status::kExtrThroughLink, "MExtrLink"},
    {Status::kExtrBadSize, "MExtrBadSize"},
    {Status::kExtrFile, "MExtrFile"},
    {Status::kExtrTestFile, "MExtrTestFile"},
    {Status::kExtrSkipFile, "MExtrSkipFile"},
    {Status::kExtrOk, "MExtrOk"},
    {Status::kExtrBadCRC, "MExtrBadCRC"},
    {Status::kEncrBadCRC, "MEncrBadCRC"},
    {Status::kExtrAllOk, "MExtrAllOk"},
    {Status::kExtrTotalErr, "MExtrTotalErr"},
    {Status::kExtrNoFiles, "MExtrNoFiles"},
    {Status::kMissingFirstVolume, "Missing 1st volume"},
    {Status::kNoFilesFatal, "no files in archive...fatal"},
};

constexpr bool StatusNamesInOrder() {
  for (std::size_t i = 0; i < std::size(kStatusNames); ++i)
    if (kStatusNames[i].Value != static_cast<Status>(i)) return false;
  return std::size(kStatusNames) == static_cast<std::size_t>(Status::kNoFilesFatal) + 1;
}
static_assert(StatusNamesInOrder(), "one name per status, in the order of the enum");

constexpr const char* StatusName(Status status) { return kStatusNames[static_cast<std::size_t>(status)].Name; }

}  // namespace korvane
