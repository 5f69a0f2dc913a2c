// What both file layers need to know about a GuardedPath: how many of its folders lie inside
// the trusted destination, and the short names of our own that temporary and set-aside files get.
#pragma once
#include <cstddef>
#include <string>

#include "platform/file_layer.h"

namespace korvane::detail {

// The number of folder components of name (its last component never counts) that end within
// its first RootLength bytes. Components are split at '\' and '/', empty ones skipped, as the
// layers split them.
std::size_t TrustedFolderCount(const GuardedPath& name);

// A leaf such as "~kv3f2a1.tmp": eight characters and an extension, so that it fits every file
// system and stands out in a listing. Successive calls give different names.
std::string OwnLeafName(const char* extension);

// name up to and including its last separator (empty when it has none).
std::string FolderPrefix(const char* name);

// The name leaf would have in name's folder, written into out; false when it does not fit.
bool WriteSiblingName(const char* name, const std::string& leaf, char* out, std::size_t capacity);

}  // namespace korvane::detail
