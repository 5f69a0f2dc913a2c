// The resource directory: the three-level tree (type, id, language) at the start of the
// resource section, followed by its data entries and the data.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "tools/release/pe_image.h"
#include "tools/release/pe_resources.h"

namespace korvane::release {

// The order Windows searches the tree in.
inline bool ResourceKeyLess(const Resource& a, const Resource& b) {
  return std::tie(a.type, a.id, a.language) < std::tie(b.type, b.id, b.language);
}
inline bool SameResourceKey(const Resource& a, const Resource& b) {
  return a.type == b.type && a.id == b.id && a.language == b.language;
}

// Walks the tree the image's resource data directory points at.
bool ReadResourceTree(const std::vector<uint8_t>& file, const PeImage& image, std::vector<Resource>* out,
                      std::string* error);

// A resource section holding `sorted` (ordered by ResourceKeyLess, each key once), for a
// section mapped at sectionRva: the data entries hold addresses, not offsets.
bool BuildResourceSection(const std::vector<Resource>& sorted, uint32_t sectionRva, std::vector<uint8_t>* out,
                          std::string* error);

}  // namespace korvane::release
