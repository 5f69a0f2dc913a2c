#include "tools/cli/charset.h"

#include <cstring>
#include <string>

#ifndef _WIN32
#include <iconv.h>
#endif

namespace korvane::cli {
namespace {

constexpr std::uint8_t kHostUnix = 3;
void* const kNoConverter = reinterpret_cast<void*>(-1);

}  // namespace

#ifdef _WIN32
NameCharset::NameCharset(const char*) : Converter(kNoConverter) {}
NameCharset::~NameCharset() = default;
bool NameCharset::Valid() const { return true; }
bool NameCharset::Convert(std::uint8_t, char*, std::size_t) const { return true; }
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
#endif

}  // namespace korvane::cli
