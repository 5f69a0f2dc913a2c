// Writing a new resource section into a copy of an executable. The copy is the stub's bytes up
// to the resource section, the new section, then the stub's bytes from the end of the old one
// on (the sections after it and any overlay) shifted as a block; the headers are patched last.
#include "tools/release/pe_resources.h"

#include <algorithm>
#include <cstring>

#include "tools/release/byte_io.h"
#include "tools/release/pe_image.h"
#include "tools/release/resource_tree.h"

namespace korvane::release {
namespace {

constexpr int kRelocationPadding = 0;
constexpr int kRelocationHighLow = 3;
constexpr int kRelocationDir64 = 10;
constexpr size_t kDebugEntrySize = 28;

// Where the resource section is and what lies after it.
struct Plan {
  size_t index = 0;  // in the section table; the table's size when a section is added
  bool added = false;
  uint32_t rva = 0;         // the section keeps its address...
  uint32_t rawPointer = 0;  // ...and its place in the file
  uint32_t oldRawSize = 0;
  uint64_t oldVirtualEnd = 0;  // aligned: the sections that move start at or after it
  uint64_t oldImageEnd = 0;
  uint64_t oldTailStart = 0;  // in the file: everything from here on moves
};

uint64_t ImageEnd(const PeImage& image) {
  uint64_t end = AlignUp(image.sizeOfHeaders, image.sectionAlignment);
  for (const Section& section : image.sections) {
    end = std::max(end, AlignUp(section.VirtualEnd(), image.sectionAlignment));
  }
  return end;
}

bool PlanNewSection(const std::vector<uint8_t>& stub, const PeImage& image, Plan* plan, std::string* error) {
  if (image.directories.size() <= kDirectoryResource) return Fail(error, "the header has no resource directory entry");
  const size_t slot = image.sectionTableOffset + image.sections.size() * kSectionHeaderSize;
  const bool free =
      slot + kSectionHeaderSize <= image.sizeOfHeaders &&
      std::all_of(stub.begin() + slot, stub.begin() + slot + kSectionHeaderSize, [](uint8_t b) { return b == 0; });
  if (!free) return Fail(error, "no resources, and no room in the section table to add a resource section");
  plan->index = image.sections.size();
  plan->added = true;
  plan->oldImageEnd = ImageEnd(image);
  plan->rva = static_cast<uint32_t>(plan->oldImageEnd);
  plan->oldVirtualEnd = plan->oldImageEnd;
  plan->oldTailStart = image.EndOfSections();
  if (plan->oldTailStart % image.fileAlignment != 0) return Fail(error, "the last section does not end file-aligned");
  plan->rawPointer = static_cast<uint32_t>(plan->oldTailStart);
  return true;
}

bool PlanResourceSection(const std::vector<uint8_t>& stub, const PeImage& image, Plan* plan, std::string* error) {
  const DataDirectory directory = image.Directory(kDirectoryResource);
  if (directory.Empty()) return PlanNewSection(stub, image, plan, error);
  const int index = image.SectionIndexAt(directory.rva);
  if (index < 0) return Fail(error, "resource directory outside every section");
  const Section& section = image.sections[index];
  if (directory.rva != section.virtualAddress) {
    return Fail(error, "resource directory does not start section " + section.name + ": it shares it with other data");
  }
  if (section.rawSize == 0 || section.rawPointer % image.fileAlignment != 0 ||
      section.rawSize % image.fileAlignment != 0) {
    return Fail(error, "resource section " + section.name + " has no raw data or it is not file-aligned");
  }
  plan->index = static_cast<size_t>(index);
  plan->rva = section.virtualAddress;
  plan->rawPointer = section.rawPointer;
  plan->oldRawSize = section.rawSize;
  plan->oldVirtualEnd = AlignUp(section.VirtualEnd(), image.sectionAlignment);
  plan->oldImageEnd = ImageEnd(image);
  plan->oldTailStart = uint64_t{section.rawPointer} + section.rawSize;
  return true;
}

// Only sections that no code can address may move: their content is found through data
// directories (.reloc) or by name (debug information), never by a pointer.
bool CheckSections(const PeImage& image, const Plan& plan, std::string* error) {
  for (size_t i = 0; i < image.sections.size(); ++i) {
    const Section& section = image.sections[i];
    if (i == plan.index) continue;
    const bool hasRaw = section.rawSize != 0;
    if (i < plan.index) {
      if (section.VirtualEnd() > plan.rva ||
          (hasRaw && uint64_t{section.rawPointer} + section.rawSize > plan.rawPointer)) {
        return Fail(error,
                    "section " + section.name + " comes before the resource section in the table but not in the image");
      }
      continue;
    }
    if (section.virtualAddress < plan.oldVirtualEnd || (hasRaw && section.rawPointer < plan.oldTailStart)) {
      return Fail(error,
                  "section " + section.name + " comes after the resource section in the table but not in the image");
    }
    const uint32_t addressable = kSectionCode | kSectionExecute | kSectionWrite;
    if ((section.characteristics & kSectionDiscardable) == 0 || (section.characteristics & addressable) != 0) {
      return Fail(error, "section " + section.name +
                             " follows the resource section and may be addressed by code: it cannot be moved");
    }
  }
  if (image.pointerToSymbolTable >= plan.rawPointer && image.pointerToSymbolTable < plan.oldTailStart) {
    return Fail(error, "the symbol table pointer points into the resource section");
  }
  return true;
}

bool CheckDirectories(const PeImage& image, const Plan& plan, std::string* error) {
  for (size_t i = 0; i < image.directories.size(); ++i) {
    const DataDirectory& directory = image.directories[i];
    if (directory.Empty() || i == kDirectoryResource) continue;
    if (i == kDirectorySecurity) {
      return Fail(error, "the stub is signed: stamping would void the signature (sign the stamped copy instead)");
    }
    if (uint64_t{directory.rva} + directory.size <= plan.rva) continue;
    if (i == kDirectoryBaseRelocation && directory.rva >= plan.oldVirtualEnd) continue;  // moves with .reloc
    return Fail(error, "data directory " + std::to_string(i) + " points into the resource section or past it");
  }
  return true;
}

// Debug directory entries hold file offsets and addresses of their data: they must stay put.
bool CheckDebugDirectory(const std::vector<uint8_t>& stub, const PeImage& image, const Plan& plan, std::string* error) {
  const DataDirectory directory = image.Directory(kDirectoryDebug);
  if (directory.Empty()) return true;
  size_t at = 0;
  if (!image.FileOffsetOf(directory.rva, directory.size, &at)) return Fail(error, "debug directory outside the file");
  const ByteView bytes(stub);
  for (size_t entry = 0; entry + kDebugEntrySize <= directory.size; entry += kDebugEntrySize) {
    uint32_t address = 0;
    uint32_t pointer = 0;
    bytes.U32(at + entry + 20, &address);
    bytes.U32(at + entry + 24, &pointer);
    if ((address != 0 && address >= plan.rva) || (pointer != 0 && pointer >= plan.rawPointer)) {
      return Fail(error, "debug data lies in or after the resource section and would move");
    }
  }
  return true;
}

// A relocatable image lists every absolute address it holds: none may sit in, or point into,
// the resource section or anything after it.
bool CheckRelocation(ByteView stub, const PeImage& image, const Plan& plan, uint32_t page, uint16_t entry,
                     std::string* error) {
  const int type = entry >> 12;
  if (type == kRelocationPadding) return true;
  if (type != kRelocationHighLow && type != kRelocationDir64) {
    return Fail(error, "unsupported base relocation type " + std::to_string(type));
  }
  const uint64_t target = uint64_t{page} + (entry & 0xFFF);
  if (target >= plan.rva) return Fail(error, "a base relocation patches the resource section or a section after it");
  const int width = type == kRelocationHighLow ? 4 : 8;
  size_t at = 0;
  uint64_t value = 0;
  uint32_t value32 = 0;
  if (!image.FileOffsetOf(static_cast<uint32_t>(target), width, &at) ||
      !(width == 4 ? stub.U32(at, &value32) : stub.U64(at, &value))) {
    return Fail(error, "a base relocation patches bytes outside the file");
  }
  if (width == 4) value = value32;
  if (value >= image.imageBase + plan.rva && value < image.imageBase + plan.oldImageEnd) {
    return Fail(error, "code or data holds an address in the resource section or after it, which would move");
  }
  return true;
}

bool CheckRelocations(const std::vector<uint8_t>& stub, const PeImage& image, const Plan& plan, std::string* error) {
  const DataDirectory directory = image.Directory(kDirectoryBaseRelocation);
  if (directory.Empty()) return true;
  size_t at = 0;
  if (!image.FileOffsetOf(directory.rva, directory.size, &at)) return Fail(error, "base relocations outside the file");
  const ByteView file(stub);
  const ByteView blocks(stub.data() + at, directory.size);
  for (uint64_t block = 0; block + 8 <= blocks.size();) {
    uint32_t page = 0;
    uint32_t blockSize = 0;
    blocks.U32(block, &page);
    blocks.U32(block + 4, &blockSize);
    if (blockSize < 8 || !blocks.Has(block, blockSize)) return Fail(error, "damaged base relocation block");
    for (uint64_t entry = block + 8; entry + 2 <= block + blockSize; entry += 2) {
      uint16_t value = 0;
      blocks.U16(entry, &value);
      if (!CheckRelocation(file, image, plan, page, value, error)) return false;
    }
    block += blockSize;
  }
  return true;
}

// File offsets at or after the old section's end move with the tail.
uint32_t ShiftFileOffset(uint32_t offset, const Plan& plan, int64_t fileDelta) {
  return offset != 0 && offset >= plan.oldTailStart ? static_cast<uint32_t>(offset + fileDelta) : offset;
}

void PatchSectionTable(std::vector<uint8_t>& out, const PeImage& image, const Plan& plan, uint32_t sectionSize,
                       int64_t rvaDelta, int64_t fileDelta) {
  const uint32_t rawSize = static_cast<uint32_t>(AlignUp(sectionSize, image.fileAlignment));
  const size_t header = image.sectionTableOffset + plan.index * kSectionHeaderSize;
  if (plan.added) {
    std::memcpy(out.data() + header, ".rsrc\0\0\0", 8);
    Put32(out, header + 12, plan.rva);
    Put32(out, header + 20, plan.rawPointer);
    Put32(out, header + 36, kSectionInitializedData | kSectionRead);
    Put16(out, image.NumberOfSectionsOffset(), static_cast<uint16_t>(image.sections.size() + 1));
  }
  Put32(out, header + 8, sectionSize);
  Put32(out, header + 16, rawSize);
  for (size_t i = 0; i < image.sections.size(); ++i) {
    const Section& section = image.sections[i];
    uint32_t relocations = 0;
    uint32_t lineNumbers = 0;
    ByteView(out).U32(section.headerOffset + 24, &relocations);
    ByteView(out).U32(section.headerOffset + 28, &lineNumbers);
    Put32(out, section.headerOffset + 24, ShiftFileOffset(relocations, plan, fileDelta));
    Put32(out, section.headerOffset + 28, ShiftFileOffset(lineNumbers, plan, fileDelta));
    if (i <= plan.index) continue;
    Put32(out, section.headerOffset + 12, static_cast<uint32_t>(section.virtualAddress + rvaDelta));
    if (section.rawSize != 0)
      Put32(out, section.headerOffset + 20, ShiftFileOffset(section.rawPointer, plan, fileDelta));
  }
}

bool PatchHeaders(std::vector<uint8_t>& out, const PeImage& image, const Plan& plan, uint32_t sectionSize,
                  int64_t rvaDelta, int64_t fileDelta, std::string* error) {
  PatchSectionTable(out, image, plan, sectionSize, rvaDelta, fileDelta);
  Put32(out, image.PointerToSymbolTableOffset(), ShiftFileOffset(image.pointerToSymbolTable, plan, fileDelta));
  Put32(out, image.DirectoryOffset(kDirectoryResource), plan.rva);
  Put32(out, image.DirectoryOffset(kDirectoryResource) + 4, sectionSize);
  const DataDirectory relocations = image.Directory(kDirectoryBaseRelocation);
  if (!relocations.Empty() && relocations.rva >= plan.oldVirtualEnd) {
    Put32(out, image.DirectoryOffset(kDirectoryBaseRelocation), static_cast<uint32_t>(relocations.rva + rvaDelta));
  }
  const int64_t rawGrowth = static_cast<int64_t>(AlignUp(sectionSize, image.fileAlignment)) - plan.oldRawSize;
  const int64_t initialized = std::max<int64_t>(0, int64_t{image.sizeOfInitializedData} + rawGrowth);
  Put32(out, image.SizeOfInitializedDataOffset(), static_cast<uint32_t>(std::min<int64_t>(initialized, 0xFFFFFFFF)));

  PeImage written;  // the patched table, read back, gives the new extent of the image
  std::string why;
  if (!ParsePeImage(out, &written, &why)) return Fail(error, "the rewritten headers do not read back: " + why);
  Put32(out, image.SizeOfImageOffset(), static_cast<uint32_t>(ImageEnd(written)));
  Put32(out, image.CheckSumOffset(), PeChecksum(out, image.CheckSumOffset()));
  return true;
}

bool WriteImage(const std::vector<uint8_t>& stub, const PeImage& image, const Plan& plan,
                const std::vector<uint8_t>& section, std::vector<uint8_t>* out, std::string* error) {
  const uint64_t rawSize = AlignUp(section.size(), image.fileAlignment);
  const uint64_t newTailStart = plan.rawPointer + rawSize;
  const int64_t fileDelta = static_cast<int64_t>(newTailStart) - static_cast<int64_t>(plan.oldTailStart);
  const uint64_t newVirtualEnd = AlignUp(uint64_t{plan.rva} + section.size(), image.sectionAlignment);
  const int64_t rvaDelta = static_cast<int64_t>(newVirtualEnd) - static_cast<int64_t>(plan.oldVirtualEnd);
  if (static_cast<int64_t>(plan.oldImageEnd) + rvaDelta > 0xFFFFFFFF ||
      static_cast<int64_t>(stub.size()) + fileDelta > 0xFFFFFFFF) {
    return Fail(error, "the stamped executable would be larger than 4 GiB");
  }
  std::vector<uint8_t> stamped(stub.begin(), stub.begin() + plan.rawPointer);
  stamped.resize(newTailStart, 0);
  std::copy(section.begin(), section.end(), stamped.begin() + plan.rawPointer);
  stamped.insert(stamped.end(), stub.begin() + plan.oldTailStart, stub.end());
  if (!PatchHeaders(stamped, image, plan, static_cast<uint32_t>(section.size()), rvaDelta, fileDelta, error)) {
    return false;
  }
  out->swap(stamped);
  return true;
}

}  // namespace

bool ReadResources(const std::vector<uint8_t>& image, std::vector<Resource>* out, std::string* error) {
  PeImage pe;
  std::vector<Resource> resources;
  if (!ParsePeImage(image, &pe, error) || !ReadResourceTree(image, pe, &resources, error)) return false;
  out->swap(resources);
  return true;
}

bool ReplaceResources(const std::vector<uint8_t>& stub, const std::vector<Resource>& resources,
                      std::vector<uint8_t>* out, std::string* error) {
  std::vector<Resource> sorted = resources;
  std::stable_sort(sorted.begin(), sorted.end(), ResourceKeyLess);
  if (std::adjacent_find(sorted.begin(), sorted.end(), SameResourceKey) != sorted.end()) {
    return Fail(error, "a resource is given twice (same type, id and language)");
  }
  PeImage image;
  Plan plan;
  std::vector<uint8_t> section;
  return ParsePeImage(stub, &image, error) && PlanResourceSection(stub, image, &plan, error) &&
         CheckSections(image, plan, error) && CheckDirectories(image, plan, error) &&
         CheckDebugDirectory(stub, image, plan, error) && CheckRelocations(stub, image, plan, error) &&
         BuildResourceSection(sorted, plan.rva, &section, error) && WriteImage(stub, image, plan, section, out, error);
}

}  // namespace korvane::release
