// The headers of a PE image as the resource writer needs them: where each field lives in the
// file, so that a copy can be patched, and the section table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::release {

constexpr uint32_t kSectionCode = 0x00000020;
constexpr uint32_t kSectionInitializedData = 0x00000040;
constexpr uint32_t kSectionDiscardable = 0x02000000;
constexpr uint32_t kSectionExecute = 0x20000000;
constexpr uint32_t kSectionRead = 0x40000000;
constexpr uint32_t kSectionWrite = 0x80000000;

constexpr size_t kSectionHeaderSize = 40;
constexpr int kDirectoryResource = 2;
constexpr int kDirectorySecurity = 4;
constexpr int kDirectoryBaseRelocation = 5;
constexpr int kDirectoryDebug = 6;

struct Section {
  size_t headerOffset = 0;  // of its 40-byte header in the file
  std::string name;         // the 8 raw bytes up to the first NUL ("/4" for a long name)
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawPointer = 0;
  uint32_t characteristics = 0;

  // Linkers may leave VirtualSize zero; the loader then maps the raw size.
  uint32_t VirtualSpan() const { return virtualSize != 0 ? virtualSize : rawSize; }
  uint64_t VirtualEnd() const { return uint64_t{virtualAddress} + VirtualSpan(); }
  bool ContainsRva(uint32_t rva) const { return rva >= virtualAddress && rva < VirtualEnd(); }
};

struct DataDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
  bool Empty() const { return rva == 0 && size == 0; }
};

struct PeImage {
  bool pe32Plus = false;
  size_t fileHeaderOffset = 0;  // the COFF header, after "PE\0\0"
  size_t optionalHeaderOffset = 0;
  size_t sectionTableOffset = 0;
  size_t dataDirectoryOffset = 0;  // of entry 0
  uint32_t pointerToSymbolTable = 0;
  uint64_t imageBase = 0;
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t sizeOfInitializedData = 0;
  std::vector<DataDirectory> directories;  // only as many as the header declares (at most 16)
  std::vector<Section> sections;

  size_t NumberOfSectionsOffset() const { return fileHeaderOffset + 2; }
  size_t PointerToSymbolTableOffset() const { return fileHeaderOffset + 8; }
  size_t SizeOfInitializedDataOffset() const { return optionalHeaderOffset + 8; }
  size_t SizeOfImageOffset() const { return optionalHeaderOffset + 56; }
  size_t CheckSumOffset() const { return optionalHeaderOffset + 64; }
  size_t DirectoryOffset(int index) const { return dataDirectoryOffset + 8 * static_cast<size_t>(index); }

  DataDirectory Directory(int index) const {
    return index < static_cast<int>(directories.size()) ? directories[index] : DataDirectory{};
  }
  // The section whose mapped range holds rva, or -1.
  int SectionIndexAt(uint32_t rva) const;
  // The file offset of `size` bytes at rva, when all of them lie in one section's raw data.
  bool FileOffsetOf(uint32_t rva, uint32_t size, size_t* offset) const;
  // The end of the raw data furthest into the file (at least the headers).
  uint64_t EndOfSections() const;
};

// Validates the headers and the section table: every raw range inside the file, alignments
// powers of two. The sections themselves are not looked into.
bool ParsePeImage(const std::vector<uint8_t>& file, PeImage* image, std::string* error);

inline uint64_t AlignUp(uint64_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

}  // namespace korvane::release
