#include "platform/guarded_path.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace korvane::detail {

std::size_t TrustedFolderCount(const GuardedPath& name) {
  std::size_t trusted = 0, components = 0;
  const char* p = name.Name;
  while (*p != '\0') {
    if (*p == '\\' || *p == '/') {
      ++p;
      continue;
    }
    const char* end = p;
    while (*end != '\0' && *end != '\\' && *end != '/') ++end;
    ++components;
    if (static_cast<std::size_t>(end - name.Name) <= name.RootLength) trusted = components;
    p = end;
  }
  return components == 0 ? 0 : (trusted < components ? trusted : components - 1);
}

std::string OwnLeafName(const char* extension) {
  // Unique enough within a folder for a retry loop to settle at once; the time keeps two
  // processes apart, the counter two calls.
  static std::atomic<std::uint32_t> counter{static_cast<std::uint32_t>(
      std::chrono::steady_clock::now().time_since_epoch().count() * 2654435761u)};
  const std::uint32_t n = counter.fetch_add(0x9E3779B9u) & 0xFFFFFu;
  char leaf[32];
  std::snprintf(leaf, sizeof leaf, "~kv%05x.%s", n, extension);
  return leaf;
}

std::string FolderPrefix(const char* name) {
  const char* slash = std::strrchr(name, '\\');
  const char* other = std::strrchr(name, '/');
  if (slash == nullptr || (other != nullptr && other > slash)) slash = other;
  return slash == nullptr ? std::string() : std::string(name, static_cast<std::size_t>(slash - name) + 1);
}

bool WriteSiblingName(const char* name, const std::string& leaf, char* out, std::size_t capacity) {
  const std::string whole = FolderPrefix(name) + leaf;
  if (whole.size() >= capacity) return false;
  std::memcpy(out, whole.c_str(), whole.size() + 1);
  return true;
}

}  // namespace korvane::detail
