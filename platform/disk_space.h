// Room on the destination's file system: the free space before an installation, and whether
// a write failed because there is none. Beside the file layer, in the same two flavours.
#pragma once
#include <cstdint>

namespace korvane {

inline constexpr std::uint64_t kUnknownFreeSpace = UINT64_MAX;

// Bytes this user may still write on the file system that holds path (a directory, which
// need not exist yet: its nearest existing parent is asked); kUnknownFreeSpace when the
// system does not say.
std::uint64_t FreeBytesAt(const char* path);

// Whether the write that just failed on this thread failed for want of space (a full disk or
// an exhausted quota), as opposed to any other error.
bool LastWriteFailedForSpace();

// For tests: from now on the disk holds only bytes more of what File::WriteRaw writes, and a
// write beyond that fails as on a full disk; a negative value lifts the limit.
void SimulateFreeSpaceForTests(std::int64_t bytes);

namespace detail {
bool SystemSaysDiskFull();  // the system's own reason for the last failed write
}

}  // namespace korvane
