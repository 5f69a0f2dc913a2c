#include "engine/file_ops.h"

#include <cstring>


namespace korvane {

char* FindExtensionDot(char* name) {
  // Only the file-name part counts: a dot in a directory name is not an extension.
  char* base = name;
  for (char* c = name; *c != '\0'; ++c)
    if (*c == '\\' || *c == '/') base = c + 1;
  return std::strrchr(base, '.');
}

bool ReplaceExtension(char* name, std::size_t capacity, const char* extension) {
  char* dot = FindExtensionDot(name);
  const std::size_t stem = dot != nullptr ? static_cast<std::size_t>(dot - name) : std::strlen(name);
  if (stem + 1 + std::strlen(extension) + 1 > capacity) return false;
  name[stem] = '.';
  std::strcpy(name + stem + 1, extension);
  return true;
}

int CompareNoCase(const char* a, const char* b) {
  constexpr std::size_t kCompared = 512;
  for (std::size_t i = 0; i < kCompared; ++i) {
    auto up = [](char c) {
      const auto u = static_cast<unsigned char>(c);
      return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 32) : u;
    };
    const unsigned char x = up(a[i]), y = up(b[i]);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
  return 0;
}

}  // namespace korvane
