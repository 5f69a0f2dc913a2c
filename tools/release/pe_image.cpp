// PE headers and the section table, read with every offset checked against the file.
#include "tools/release/pe_image.h"

#include <algorithm>

#include "tools/release/byte_io.h"
#include "tools/release/pe_resources.h"

namespace korvane::release {
namespace {

constexpr uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kMaxDirectories = 16;

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

bool ParseFileHeader(ByteView file, PeImage* image, uint16_t* sectionCount, uint16_t* optionalSize,
                     std::string* error) {
  uint16_t dosMagic = 0;
  uint32_t peOffset = 0;
  uint32_t signature = 0;
  if (!file.U16(0, &dosMagic) || dosMagic != kDosMagic) return Fail(error, "not an executable: no MZ header");
  if (!file.U32(0x3C, &peOffset) || !file.U32(peOffset, &signature) || signature != kPeSignature) {
    return Fail(error, "not a PE executable: no PE signature");
  }
  image->fileHeaderOffset = size_t{peOffset} + 4;
  const size_t header = image->fileHeaderOffset;
  if (!file.U16(header + 2, sectionCount) || !file.U32(header + 8, &image->pointerToSymbolTable) ||
      !file.U16(header + 16, optionalSize)) {
    return Fail(error, "truncated COFF file header");
  }
  image->optionalHeaderOffset = header + 20;
  image->sectionTableOffset = image->optionalHeaderOffset + *optionalSize;
  return true;
}

bool ParseOptionalHeader(ByteView file, PeImage* image, uint16_t optionalSize, std::string* error) {
  const size_t opt = image->optionalHeaderOffset;
  uint16_t magic = 0;
  if (!file.Has(opt, optionalSize) || !file.U16(opt, &magic)) return Fail(error, "truncated optional header");
  if (magic != kMagicPe32 && magic != kMagicPe32Plus) return Fail(error, "unknown optional header magic");
  image->pe32Plus = magic == kMagicPe32Plus;
  const size_t countField = image->pe32Plus ? 108 : 92;
  if (optionalSize < countField + 4) return Fail(error, "optional header too short");

  uint32_t imageBase32 = 0;
  uint32_t directoryCount = 0;
  const bool read = file.U32(opt + 8, &image->sizeOfInitializedData) &&
                    (image->pe32Plus ? file.U64(opt + 24, &image->imageBase) : file.U32(opt + 28, &imageBase32)) &&
                    file.U32(opt + 32, &image->sectionAlignment) && file.U32(opt + 36, &image->fileAlignment) &&
                    file.U32(opt + 60, &image->sizeOfHeaders) && file.U32(opt + countField, &directoryCount);
  if (!read) return Fail(error, "truncated optional header");
  if (!image->pe32Plus) image->imageBase = imageBase32;

  const uint32_t room = static_cast<uint32_t>((optionalSize - countField - 4) / 8);
  directoryCount = std::min({directoryCount, kMaxDirectories, room});
  image->dataDirectoryOffset = opt + countField + 4;
  image->directories.resize(directoryCount);
  for (uint32_t i = 0; i < directoryCount; ++i) {
    file.U32(image->DirectoryOffset(i), &image->directories[i].rva);
    file.U32(image->DirectoryOffset(i) + 4, &image->directories[i].size);
  }
  if (!IsPowerOfTwo(image->fileAlignment) || !IsPowerOfTwo(image->sectionAlignment) ||
      image->fileAlignment > image->sectionAlignment) {
    return Fail(error, "section or file alignment is not a power of two, or the file's is the larger");
  }
  if (image->sizeOfHeaders > file.size()) return Fail(error, "headers larger than the file");
  return true;
}

bool ParseSectionTable(ByteView file, PeImage* image, uint16_t sectionCount, std::string* error) {
  if (!file.Has(image->sectionTableOffset, uint64_t{sectionCount} * kSectionHeaderSize)) {
    return Fail(error, "section table past the end of the file");
  }
  image->sections.resize(sectionCount);
  for (uint16_t i = 0; i < sectionCount; ++i) {
    Section& section = image->sections[i];
    section.headerOffset = image->sectionTableOffset + size_t{i} * kSectionHeaderSize;
    const uint8_t* name = file.data() + section.headerOffset;
    section.name.assign(reinterpret_cast<const char*>(name), std::find(name, name + 8, 0) - name);
    file.U32(section.headerOffset + 8, &section.virtualSize);
    file.U32(section.headerOffset + 12, &section.virtualAddress);
    file.U32(section.headerOffset + 16, &section.rawSize);
    file.U32(section.headerOffset + 20, &section.rawPointer);
    file.U32(section.headerOffset + 36, &section.characteristics);
    if (section.rawSize != 0 && !file.Has(section.rawPointer, section.rawSize)) {
      return Fail(error, "section " + section.name + ": raw data past the end of the file");
    }
  }
  return true;
}

}  // namespace

int PeImage::SectionIndexAt(uint32_t rva) const {
  for (size_t i = 0; i < sections.size(); ++i) {
    if (sections[i].ContainsRva(rva)) return static_cast<int>(i);
  }
  return -1;
}

bool PeImage::FileOffsetOf(uint32_t rva, uint32_t size, size_t* offset) const {
  const int index = SectionIndexAt(rva);
  if (index < 0) return false;
  const Section& section = sections[index];
  const uint64_t inSection = rva - section.virtualAddress;
  if (inSection + size > std::min(section.rawSize, section.VirtualSpan())) return false;
  *offset = section.rawPointer + inSection;
  return true;
}

uint64_t PeImage::EndOfSections() const {
  uint64_t end = sizeOfHeaders;
  for (const Section& section : sections) {
    if (section.rawSize != 0) end = std::max(end, uint64_t{section.rawPointer} + section.rawSize);
  }
  return end;
}

bool ParsePeImage(const std::vector<uint8_t>& file, PeImage* image, std::string* error) {
  *image = PeImage();
  const ByteView bytes(file);
  uint16_t sectionCount = 0;
  uint16_t optionalSize = 0;
  return ParseFileHeader(bytes, image, &sectionCount, &optionalSize, error) &&
         ParseOptionalHeader(bytes, image, optionalSize, error) && ParseSectionTable(bytes, image, sectionCount, error);
}

uint32_t PeChecksum(const std::vector<uint8_t>& file, size_t checksumOffset) {
  auto byteAt = [&](size_t i) -> uint32_t {
    if (i >= file.size() || (i >= checksumOffset && i - checksumOffset < 4)) return 0;
    return file[i];
  };
  uint32_t sum = 0;
  for (size_t i = 0; i < file.size(); i += 2) {
    sum += byteAt(i) | (byteAt(i + 1) << 8);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<uint32_t>(sum + file.size());
}

}  // namespace korvane::release
