#include "tools/cli/values.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include "archive/archive_layout.h"

namespace korvane::cli {

bool ParsePositive(const char* text, bool sizeSuffix, std::uint64_t& out) {
  if (*text < '0' || *text > '9') return false;  // strtoull would take a sign or spaces
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno == ERANGE) return false;
  std::uint64_t scale = 1;
  if (sizeSuffix && (*end == 'k' || *end == 'K')) scale = 1024, ++end;
  else if (sizeSuffix && (*end == 'm' || *end == 'M')) scale = 1024 * 1024, ++end;
  if (*end != '\0' || v == 0 || v > UINT64_MAX / scale) return false;
  out = v * scale;
  return true;
}

bool ParseLevel(const char* text, int& level) {
  if (text[0] < '0' || text[0] > '5' || text[1] != '\0') return false;
  level = text[0] - '0';
  return true;
}

bool ParseDosTime(const char* text, std::uint32_t& out) {
  int y, mo, d, h, mi, s;
  char tail;
  if (std::sscanf(text, "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return false;
  if (y < 1980 || y > 2107 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
      s < 0 || s > 59)
    return false;
  out = DosTime(y, mo, d, h, mi, s);
  return true;
}

#ifdef _WIN32
void RemovePath(const char* path) { _unlink(path); }
void RemoveFolder(const char* path) { _rmdir(path); }
long ProcessId() { return _getpid(); }
#else
void RemovePath(const char* path) { unlink(path); }
void RemoveFolder(const char* path) { rmdir(path); }
long ProcessId() { return static_cast<long>(getpid()); }
#endif

}  // namespace korvane::cli
