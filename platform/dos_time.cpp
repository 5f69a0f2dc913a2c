// MS-DOS date/time fields, shared by both file layers so they accept the same stamps.
#include "platform/file_layer.h"

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

}  // namespace korvane
