#include "archive/archive_layout.h"

#include <cstring>
#include <vector>

namespace korvane {

DosDateTime SplitDosTime(std::uint32_t t) {
  return DosDateTime{static_cast<int>(t >> 25) + 1980, static_cast<int>((t >> 21) & 0x0F),
                     static_cast<int>((t >> 16) & 0x1F), static_cast<int>((t >> 11) & 0x1F),
                     static_cast<int>((t >> 5) & 0x3F),  static_cast<int>(t & 0x1F) * 2};
}

bool IsValidDosDateTime(const DosDateTime& t) {
  static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.Month < 1 || t.Month > 12 || t.Day < 1 || t.Day > kDays[t.Month - 1]) return false;
  const bool leap = (t.Year % 4 == 0 && t.Year % 100 != 0) || t.Year % 400 == 0;
  if (t.Month == 2 && t.Day == 29 && !leap) return false;
  return t.Hour < 24 && t.Minute < 60 && t.Second < 60;
}

std::uint32_t DosTime(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1980) return (1u << 21) | (1u << 16);
  if (year > 2107) year = 2107;
  return static_cast<std::uint32_t>(year - 1980) << 25 | static_cast<std::uint32_t>(month) << 21 |
         static_cast<std::uint32_t>(day) << 16 | static_cast<std::uint32_t>(hour) << 11 |
         static_cast<std::uint32_t>(minute) << 5 | static_cast<std::uint32_t>(second / 2);
}

bool AdvanceVolumeName(char* name, std::size_t capacity) {
  const std::size_t length = std::strlen(name);
  if (length + 4 >= capacity) return false;
  // Only the file-name part counts: a dot in a folder name is no extension.
  char* base = name;
  for (char* c = name; *c != '\0'; ++c)
    if (*c == '\\' || *c == '/') base = c + 1;
  char* dot = std::strrchr(base, '.');
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  const bool exe = dot != nullptr && lower(dot[1]) == 'e' && lower(dot[2]) == 'x' && lower(dot[3]) == 'e' &&
                   dot[4] == '\0';
  if (dot == nullptr || dot[1] == '\0' || exe) {
    if (dot == nullptr) dot = name + length;
    std::strcpy(dot, ".rar");
  }
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (isDigit(dot[2]) && isDigit(dot[3])) {
    char* p = dot + 3;
    ++*p;
    // Only a digit that ran over becomes '0' and carries; the first character after the dot
    // is incremented as a plain byte (r -> s), except that a digit there runs over into 'A'.
    while (*p == '9' + 1) {
      if (p - 1 == dot) {
        *p = 'A';
        break;
      }
      *p = '0';
      --p;
      ++*p;
    }
  } else {
    dot[2] = '0';
    dot[3] = '0';
    dot[4] = '\0';
  }
  return true;
}

std::string NextVolumeName(const std::string& name) {
  std::vector<char> buffer(name.begin(), name.end());
  buffer.resize(name.size() + 5, '\0');
  AdvanceVolumeName(buffer.data(), buffer.size());
  return buffer.data();
}

}  // namespace korvane
