#include "platform/disk_space.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <string>

namespace korvane {

std::uint64_t FreeBytesAt(const char* path) {
  std::string dir = path;
  for (char& c : dir)
    if (c == '\\') c = '/';
  for (;;) {
    struct statvfs fs;
    if (!dir.empty() && ::statvfs(dir.c_str(), &fs) == 0) return std::uint64_t{fs.f_bavail} * fs.f_frsize;
    // Not there yet: the parent holds what it will be created on.
    while (!dir.empty() && dir.back() == '/') dir.pop_back();
    const std::size_t slash = dir.rfind('/');
    if (dir.empty()) return kUnknownFreeSpace;
    dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
  }
}

bool detail::SystemSaysDiskFull() { return errno == ENOSPC || errno == EDQUOT; }

}  // namespace korvane
