#include "platform/disk_space.h"

#include <windows.h>

#include <string>

namespace korvane {

std::uint64_t FreeBytesAt(const char* path) {
  std::string dir = path;
  for (;;) {
    ULARGE_INTEGER available;
    if (!dir.empty() && GetDiskFreeSpaceExA(dir.c_str(), &available, nullptr, nullptr) != 0) return available.QuadPart;
    // Not there yet: the parent holds what it will be created on.
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    if (dir.empty() || dir == ".") return kUnknownFreeSpace;
    const std::size_t slash = dir.find_last_of("\\/");
    dir = slash == std::string::npos ? "." : dir.substr(0, slash + 1);
  }
}

bool detail::SystemSaysDiskFull() {
  const DWORD error = GetLastError();
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

}  // namespace korvane
