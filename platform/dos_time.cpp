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
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > kDays[t.month - 1]) return false;
  const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
  if (t.month == 2 && t.day == 29 && !leap) return false;
  return t.hour < 24 && t.minute < 60 && t.second < 60;
}

}  // namespace korvane
