#include "engine/entry_name.h"

#include <cstring>
#include <string>

namespace korvane {
namespace {

bool IsDevice(const std::string& component) {
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '0' &&
         base[3] <= '9';
}

// A component as Win32 can create it, or empty when nothing of it is left.
std::string ForWindows(std::string component) {
  for (char& c : component) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 1 && u <= 31) || std::strchr(":<>\"|?*", c) != nullptr) c = '_';
  }
  while (!component.empty() && (component.back() == '.' || component.back() == ' ')) component.pop_back();
  if (!component.empty() && IsDevice(component)) component.insert(0, 1, '_');
  return component;
}

}  // namespace

bool SanitizeEntryName(char* name, std::size_t capacity, NameRules rules) {
  std::string out;
  const char* p = name;
  // A drive prefix ("C:") at the start, also a drive-relative one ("C:x").
  if (p[0] != '\0' && p[1] == ':') p += 2;
  while (*p != '\0') {
    const char* end = p;
    while (*end != '\0' && *end != '\\' && *end != '/') ++end;
    std::string component(p, end);
    bool onlyDotsAndSpaces = true;
    for (char c : component) onlyDotsAndSpaces = onlyDotsAndSpaces && (c == '.' || c == ' ');
    const bool drive = component.size() == 2 && component[1] == ':';
    if (!onlyDotsAndSpaces && !drive && rules == NameRules::kWindows) component = ForWindows(component);
    if (!component.empty() && !onlyDotsAndSpaces && !drive) {
      if (!out.empty()) out.push_back('\\');
      out += component;
    }
    p = *end != '\0' ? end + 1 : end;
  }
  const bool fits = out.size() < capacity;
  const std::size_t kept = fits ? out.size() : capacity - 1;
  std::memcpy(name, out.data(), kept);
  name[kept] = '\0';
  return fits;
}

}  // namespace korvane
