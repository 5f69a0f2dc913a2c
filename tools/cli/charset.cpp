#include "tools/cli/charset.h"

#include <cstring>
#include <string>

#ifndef _WIN32
#include <iconv.h>
#endif

#include "archive/archive_layout.h"

namespace korvane::cli {
namespace {

void* const kNoConverter = reinterpret_cast<void*>(-1);

// Well-formed UTF-8 with at least one byte above ASCII (plain ASCII needs no conversion).
bool NeedsUtf8Conversion(const std::string& s) {
  bool wide = false;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t extra =
        c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
    if (extra == 9 || (extra == 1 && c < 0xC2) || s.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    wide |= extra != 0;
    i += extra + 1;
  }
  return wide;
}

}  // namespace

#ifdef _WIN32
NameCharset::NameCharset(const char*) : Converter(kNoConverter) {}
NameCharset::~NameCharset() = default;
bool NameCharset::Valid() const { return true; }
bool NameCharset::Convert(std::uint8_t, char*, std::size_t) const { return true; }
NameEncoder::NameEncoder(const char*) : Converter(kNoConverter) {}
NameEncoder::~NameEncoder() = default;
bool NameEncoder::Valid() const { return true; }
bool NameEncoder::Encode(std::string&) const { return true; }
#else
NameCharset::NameCharset(const char* charset) : Converter(reinterpret_cast<void*>(iconv_open("UTF-8", charset))) {}

NameCharset::~NameCharset() {
  if (Converter != kNoConverter) iconv_close(reinterpret_cast<iconv_t>(Converter));
}

bool NameCharset::Valid() const { return Converter != kNoConverter; }

bool NameCharset::Convert(std::uint8_t hostOs, char* name, std::size_t capacity) const {
  if (!Valid() || hostOs >= kHostUnix) return true;
  const auto cd = reinterpret_cast<iconv_t>(Converter);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  // Every byte of a single-byte code page becomes at most three in UTF-8 (the BMP).
  std::string out(std::strlen(name) * 4 + 1, '\0');
  char* in = name;
  std::size_t inLeft = std::strlen(name);
  char* to = out.data();
  std::size_t outLeft = out.size() - 1;
  // Bytes the code page does not define stay as they are (the name still works, shown escaped).
  if (iconv(cd, &in, &inLeft, &to, &outLeft) == static_cast<std::size_t>(-1)) return true;
  const std::size_t length = static_cast<std::size_t>(to - out.data());
  if (length >= capacity) return false;
  std::memcpy(name, out.data(), length);
  name[length] = '\0';
  return true;
}
NameEncoder::NameEncoder(const char* charset) : Converter(reinterpret_cast<void*>(iconv_open(charset, "UTF-8"))) {}

NameEncoder::~NameEncoder() {
  if (Converter != kNoConverter) iconv_close(reinterpret_cast<iconv_t>(Converter));
}

bool NameEncoder::Valid() const { return Converter != kNoConverter; }

bool NameEncoder::Encode(std::string& name) const {
  if (!Valid() || !NeedsUtf8Conversion(name)) return true;
  const auto cd = reinterpret_cast<iconv_t>(Converter);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  // A single-byte code page never needs more bytes than UTF-8 did.
  std::string out(name.size() + 1, '\0');
  char* in = name.data();
  std::size_t inLeft = name.size();
  char* to = out.data();
  std::size_t outLeft = name.size();
  if (iconv(cd, &in, &inLeft, &to, &outLeft) == static_cast<std::size_t>(-1)) return false;
  out.resize(static_cast<std::size_t>(to - out.data()));
  name = out;
  return true;
}
#endif

}  // namespace korvane::cli
