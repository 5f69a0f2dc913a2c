// The engine's status identifiers: fixed texts handed to Host::ReportStatus, never shown by
// the engine. The spellings are the system's own and are matched by callers, so keep them.
#pragma once

namespace korvane::status {

inline constexpr char kUnexpEOF[] = "MUnexpEOF";
inline constexpr char kBrokFileHead[] = "MBrokFileHead";
inline constexpr char kBrokArcHead[] = "MBrokArcHead";
inline constexpr char kBadArc[] = "MBadArc";
inline constexpr char kTestVol[] = "MTestVol";
inline constexpr char kExtrVol[] = "MExtrVol";
inline constexpr char kExtrPoints[] = "MExtrPoints";
inline constexpr char kFileExists[] = "MFileExists";
inline constexpr char kCreatDir[] = "MCreatDir";
inline constexpr char kExtrErrMkDir[] = "MExtrErrMkDir";
inline constexpr char kExtrTestDir[] = "MExtrTestDir";
inline constexpr char kExtrSkipDir[] = "MExtrSkipDir";
inline constexpr char kExtrUnknMeth[] = "MExtrUnknMeth";
inline constexpr char kExtrErrCreat[] = "MExtrErrCreat";
inline constexpr char kExtrErrWrite[] = "MExtrErrWrite";  // ours: a write failed, not the checksum
inline constexpr char kExtrPathTooLong[] = "MExtrPathTooLong";  // ours: beyond the path limit
inline constexpr char kExtrThroughLink[] = "MExtrLink";  // ours: a folder on the way is a link
inline constexpr char kExtrBadSize[] = "MExtrBadSize";  // ours: a stored entry's sizes differ
inline constexpr char kExtrFile[] = "MExtrFile";
inline constexpr char kExtrTestFile[] = "MExtrTestFile";
inline constexpr char kExtrSkipFile[] = "MExtrSkipFile";
inline constexpr char kExtrOk[] = "MExtrOk";
inline constexpr char kExtrBadCRC[] = "MExtrBadCRC";
inline constexpr char kEncrBadCRC[] = "MEncrBadCRC";
inline constexpr char kExtrAllOk[] = "MExtrAllOk";
inline constexpr char kExtrTotalErr[] = "MExtrTotalErr";
inline constexpr char kExtrNoFiles[] = "MExtrNoFiles";
inline constexpr char kMissingFirstVolume[] = "Missing 1st volume";
inline constexpr char kNoFilesFatal[] = "no files in archive...fatal";

}  // namespace korvane::status
