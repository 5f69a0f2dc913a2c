// The name helpers the volume logic and the driver share, on top of the platform file layer.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/file_layer.h"

namespace korvane {

// Replaces the text after the last dot of the file-name part by extension, or appends a dot
// and extension when there is no dot. False (name unchanged) when the result would not fit.
bool ReplaceExtension(char* name, std::size_t capacity, const char* extension);

// Compares the first 512 bytes of each name with a-z taken as A-Z; -1, 0 or 1.
int CompareNoCase(const char* a, const char* b);

// Where the extension's dot is: the last dot behind the last path separator, or nullptr.
char* FindExtensionDot(char* name);

}  // namespace korvane
