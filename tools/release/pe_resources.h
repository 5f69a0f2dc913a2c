// Reads and rewrites the resources of a Windows executable (PE32 or PE32+) without any Windows
// API, so that a release can stamp its own data into a prebuilt korvane.exe on any host.
//
// ReplaceResources writes a copy of the executable whose resource section holds the given
// resources and nothing else:
//   - every other section keeps its bytes; the resource section keeps its address and grows or
//     shrinks in place;
//   - sections after it move up or down as a block, but only sections no code can address:
//     discardable, neither code nor writable, such as .reloc and the .debug_* sections. The
//     base relocation directory follows its section; any other data directory pointing past
//     the resource section, or any absolute address (from the base relocations) pointing into
//     the resource section or past it, makes the call refuse;
//   - bytes after the last section (an overlay, such as the COFF symbol table a MinGW build
//     keeps there) move with the sections before them; the symbol table pointer follows;
//   - a signed executable is refused, as is anything the writer cannot lay out soundly;
//   - an executable without resources gets a new .rsrc section after its last one, when its
//     section table has room for one more header;
//   - SizeOfImage, SizeOfInitializedData and the CheckSum are brought up to date; the section's
//     VirtualSize is its exact length, its raw size that rounded up to the file alignment.
// The directory is written as Windows searches it: ids ascending at every level, directories
// first, then the data entries, then the data, each blob 8-byte aligned.
// Resources are identified by numbers only: a string-named type or name is refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane::release {

constexpr uint16_t kResourceIcon = 3;
constexpr uint16_t kResourceDialog = 5;
constexpr uint16_t kResourceMenu = 4;
constexpr uint16_t kResourceData = 10;
constexpr uint16_t kResourceGroupIcon = 14;
constexpr uint16_t kResourceVersion = 16;
constexpr uint16_t kResourceManifest = 24;
constexpr uint16_t kLanguageEnglishUs = 0x409;

struct Resource {
  uint16_t type = 0;
  uint16_t id = 0;
  uint16_t language = 0;
  std::vector<uint8_t> data;

  bool operator==(const Resource& other) const {
    return type == other.type && id == other.id && language == other.language && data == other.data;
  }
};

// The resources in the order of the directory (which Windows keeps sorted by type, id and
// language). An executable without a resource directory has none. Any damage gives false.
bool ReadResources(const std::vector<uint8_t>& image, std::vector<Resource>* out, std::string* error);

// A copy of stub whose resources are exactly `resources` (in any order, each type, id and
// language once). See the top of this file for what moves and what is refused.
bool ReplaceResources(const std::vector<uint8_t>& stub, const std::vector<Resource>& resources,
                      std::vector<uint8_t>* out, std::string* error);

// The icons of an .ico file as RT_ICON resources numbered from firstIconId, followed by the
// RT_GROUP_ICON groupId that lists them.
bool IconResourcesFromIco(const std::vector<uint8_t>& ico, uint16_t groupId, uint16_t firstIconId, uint16_t language,
                          std::vector<Resource>* out, std::string* error);

// The stub's resources with the replacements put in, sorted. A replacement displaces every
// language of its type and id. With replaceIcons, an icon group that is replaced also takes
// away the icons the old group listed (the new group brings its own).
std::vector<Resource> MergeResources(std::vector<Resource> stubResources, std::vector<Resource> replacements,
                                     bool replaceIcons);

// The PE checksum of a file whose CheckSum field sits at checksumOffset: the 16-bit sum of its
// little-endian words with the carries folded back in, the field counted as zero and an odd
// last byte as a word of its own, plus the file's length.
uint32_t PeChecksum(const std::vector<uint8_t>& file, size_t checksumOffset);

}  // namespace korvane::release
