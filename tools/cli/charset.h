// Entry names from DOS, OS/2 and Windows archives are bytes of an OEM code page; on POSIX the
// tool shows and creates them as UTF-8, converted by the C library's iconv.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane::cli {

inline constexpr char kDefaultCharset[] = "CP437";

class NameCharset {
 public:
  // A converter from charset (an iconv name such as CP437, CP866, CP850, CP1251) to UTF-8;
  // Valid() tells whether the system knows it. On Windows names stay as stored.
  explicit NameCharset(const char* charset);
  ~NameCharset();
  NameCharset(const NameCharset&) = delete;
  NameCharset& operator=(const NameCharset&) = delete;

  bool Valid() const;
  // Converts name in place when hostOs is MS-DOS (0), OS/2 (1) or Windows (2); Unix names,
  // and names with bytes the code page does not define, are left alone. False, name
  // unchanged, when the result would not fit capacity.
  bool Convert(std::uint8_t hostOs, char* name, std::size_t capacity) const;

 private:
  void* Converter;  // iconv_t, or (void*)-1 when there is none
};

}  // namespace korvane::cli
