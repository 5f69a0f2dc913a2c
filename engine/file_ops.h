// The engine's thin file and name operations on top of the platform file layer: the write
// that reports its own failure, and the two name helpers the volume logic and driver share.
#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/host.h"
#include "platform/file_layer.h"

namespace korvane {

// Writes count bytes; on a failed or short write shows "EWRITE,WRITE_ERROR" (no owner) and
// returns 0. The run goes on, so every later failed write shows the box again.
std::uint32_t WriteFileBytes(Host& host, FileHandle file, const void* buffer, std::uint32_t count);

// Replaces the text after the last dot of the file-name part by extension, or appends a dot
// and extension when there is no dot. False (name unchanged) when the result would not fit.
bool ReplaceExtension(char* name, std::size_t capacity, const char* extension);

// Compares the first 512 bytes of each name with a-z taken as A-Z; -1, 0 or 1.
int CompareNoCase(const char* a, const char* b);

// Where the extension's dot is: the last dot behind the last path separator, or nullptr.
char* FindExtensionDot(char* name);

}  // namespace korvane
