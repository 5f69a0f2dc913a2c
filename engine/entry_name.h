// Entry names made safe to create: never outside the destination, and on Windows never a
// device, a data stream or a name the system would quietly change.
#pragma once
#include <cstddef>

namespace korvane {

enum class NameRules {
  kPortable,  // what every system needs: a relative path
  kWindows,   // and what Win32 needs besides
};

#ifdef _WIN32
inline constexpr NameRules kHostNameRules = NameRules::kWindows;
#else
inline constexpr NameRules kHostNameRules = NameRules::kPortable;
#endif

// Makes an entry name relative: every drive prefix, leading or doubled separator, "." and ".."
// component (and any component of only dots and spaces, which Windows would treat as one of
// those) is removed, and separators become backslashes. Under the Windows rules, besides:
// ':', '<', '>', '"', '|', '?', '*' and bytes 1 to 31 become '_', trailing dots and spaces of a
// component go (a component left empty goes too), and a component whose base name is a device
// (CON, PRN, AUX, NUL, COM0-9, LPT0-9, any case, any extension) gets a leading '_'.
// The result is empty when nothing of the name is left. False when the result does not fit
// capacity: name then holds only its start, for messages, and must not be created.
bool SanitizeEntryName(char* name, std::size_t capacity, NameRules rules = kHostNameRules);

}  // namespace korvane
