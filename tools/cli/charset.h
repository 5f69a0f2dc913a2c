// Entry names from DOS, OS/2 and Windows archives are bytes of an OEM code page; on POSIX the
// tool shows and creates them as UTF-8, and packs UTF-8 names into one, converted by the C
// library's iconv.
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

// The other way, for packing: UTF-8 names into a code page (an iconv name such as CP437 or
// CP1252). On Windows names are already in the system's code page and stay as they are.
class NameEncoder {
 public:
  explicit NameEncoder(const char* charset);
  ~NameEncoder();
  NameEncoder(const NameEncoder&) = delete;
  NameEncoder& operator=(const NameEncoder&) = delete;

  bool Valid() const;
  // Converts name in place. Names that are not UTF-8 are bytes of some code page already and
  // stay as they are; false when a character has no place in the code page.
  bool Encode(std::string& name) const;

 private:
  void* Converter;  // iconv_t, or (void*)-1 when there is none
};

}  // namespace korvane::cli
