// Reading and laying out the resource directory.
#include "tools/release/resource_tree.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "tools/release/byte_io.h"

namespace korvane::release {
namespace {

constexpr uint32_t kHighBit = 0x80000000;
constexpr uint32_t kDirectoryHeaderSize = 16;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kDataAlignment = 8;            // dialog templates and icons want at least 4
constexpr uint64_t kMaxSectionSize = 0x7FFFFFFF;  // directory offsets have 31 bits

const char* LevelName(int level) {
  static const char* const kNames[] = {"type", "name", "language"};
  return kNames[level];
}

// Every check here bounds the work by the section's size: a sound tree has no more entries
// than fit in it, reaches each directory and data entry once and holds no more data than the
// file, so damaged counts, shared subtrees and cycles all end in an error.
class TreeReader {
 public:
  TreeReader(ByteView file, const PeImage& image, ByteView tree)
      : file_(file), image_(image), tree_(tree), entriesLeft_(tree.size() / kEntrySize), dataLeft_(file.size()) {}

  bool Read(std::vector<Resource>* out, std::string* error) { return ReadDirectory(0, 0, Resource(), out, error); }

 private:
  bool ReadDirectory(uint32_t offset, int level, const Resource& key, std::vector<Resource>* out, std::string* error) {
    if (!reached_.insert(offset).second) return Fail(error, "resource directory reached twice (a cycle)");
    uint16_t named = 0;
    uint16_t numbered = 0;
    if (!tree_.U16(uint64_t{offset} + 12, &named) || !tree_.U16(uint64_t{offset} + 14, &numbered)) {
      return Fail(error, "resource directory past the end of its section");
    }
    const uint32_t count = uint32_t{named} + numbered;
    if (count > entriesLeft_) return Fail(error, "resource directory has more entries than its section holds");
    entriesLeft_ -= count;
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t entry = uint64_t{offset} + kDirectoryHeaderSize + uint64_t{i} * kEntrySize;
      if (!ReadEntry(entry, level, key, out, error)) return false;
    }
    return true;
  }

  bool ReadEntry(uint64_t entry, int level, Resource key, std::vector<Resource>* out, std::string* error) {
    uint32_t name = 0;
    uint32_t target = 0;
    if (!tree_.U32(entry, &name) || !tree_.U32(entry + 4, &target)) {
      return Fail(error, "resource directory entry past the end of its section");
    }
    if ((name & kHighBit) != 0) {
      return Fail(error, std::string("string-named resource ") + LevelName(level) +
                             ": only numbered resources can be rewritten");
    }
    if (name > 0xFFFF) return Fail(error, std::string("resource ") + LevelName(level) + " out of range");
    uint16_t& field = level == 0 ? key.type : level == 1 ? key.id : key.language;
    field = static_cast<uint16_t>(name);
    const bool isDirectory = (target & kHighBit) != 0;
    if (level < 2) {
      if (!isDirectory) return Fail(error, "resource directory ends before the language level");
      return ReadDirectory(target & ~kHighBit, level + 1, key, out, error);
    }
    if (isDirectory) return Fail(error, "resource directory nested deeper than the language level");
    return ReadData(target, std::move(key), out, error);
  }

  bool ReadData(uint32_t offset, Resource resource, std::vector<Resource>* out, std::string* error) {
    if (!reached_.insert(offset).second) return Fail(error, "resource data entry reached twice");
    uint32_t rva = 0;
    uint32_t size = 0;
    if (!tree_.Has(offset, kDataEntrySize) || !tree_.U32(offset, &rva) || !tree_.U32(uint64_t{offset} + 4, &size)) {
      return Fail(error, "resource data entry past the end of its section");
    }
    size_t at = 0;
    if (!image_.FileOffsetOf(rva, size, &at)) return Fail(error, "resource data outside the image's sections");
    if (size > dataLeft_) return Fail(error, "resource data overlap: more of it than the file holds");
    dataLeft_ -= size;
    resource.data.assign(file_.data() + at, file_.data() + at + size);
    out->push_back(std::move(resource));
    return true;
  }

  ByteView file_;
  const PeImage& image_;
  ByteView tree_;
  uint64_t entriesLeft_;
  uint64_t dataLeft_;
  std::set<uint32_t> reached_;
};

// The tree's shape over a sorted list: the types, the ids of each type, the resources
// (indices) of each id, with the offset each directory gets.
struct IdNode {
  uint16_t id = 0;
  std::vector<size_t> resources;
  uint32_t offset = 0;
};
struct TypeNode {
  uint16_t type = 0;
  std::vector<IdNode> ids;
  uint32_t offset = 0;
};

std::vector<TypeNode> Nest(const std::vector<Resource>& sorted) {
  std::vector<TypeNode> types;
  for (size_t i = 0; i < sorted.size(); ++i) {
    const Resource& r = sorted[i];
    if (types.empty() || types.back().type != r.type) types.push_back(TypeNode{r.type, {}, 0});
    std::vector<IdNode>& ids = types.back().ids;
    if (ids.empty() || ids.back().id != r.id) ids.push_back(IdNode{r.id, {}, 0});
    ids.back().resources.push_back(i);
  }
  return types;
}

// A directory counts its entries in 16 bits.
bool CountsFit(const std::vector<TypeNode>& types) {
  if (types.size() > 0xFFFF) return false;
  for (const TypeNode& type : types) {
    if (type.ids.size() > 0xFFFF) return false;
    for (const IdNode& id : type.ids) {
      if (id.resources.size() > 0xFFFF) return false;
    }
  }
  return true;
}

uint64_t DirectorySize(size_t entries) { return kDirectoryHeaderSize + uint64_t{kEntrySize} * entries; }

void PutDirectory(std::vector<uint8_t>& out, uint32_t offset, size_t entries) {
  Put16(out, offset + 14, static_cast<uint16_t>(entries));  // all numbered; the rest stays zero
}

void PutEntry(std::vector<uint8_t>& out, uint32_t directory, size_t index, uint16_t name, uint32_t target) {
  const size_t entry = directory + kDirectoryHeaderSize + kEntrySize * index;
  Put32(out, entry, name);
  Put32(out, entry + 4, target);
}

}  // namespace

bool ReadResourceTree(const std::vector<uint8_t>& file, const PeImage& image, std::vector<Resource>* out,
                      std::string* error) {
  const DataDirectory directory = image.Directory(kDirectoryResource);
  out->clear();
  if (directory.Empty()) return true;
  const int index = image.SectionIndexAt(directory.rva);
  size_t start = 0;
  if (index < 0 || !image.FileOffsetOf(directory.rva, 0, &start)) {
    return Fail(error, "resource directory outside the image's sections");
  }
  const Section& section = image.sections[index];
  const size_t mapped = std::min(section.rawSize, section.VirtualSpan());
  const size_t length = mapped - (directory.rva - section.virtualAddress);
  TreeReader reader(ByteView(file), image, ByteView(file.data() + start, length));
  return reader.Read(out, error);
}

bool BuildResourceSection(const std::vector<Resource>& sorted, uint32_t sectionRva, std::vector<uint8_t>* out,
                          std::string* error) {
  std::vector<TypeNode> types = Nest(sorted);
  if (!CountsFit(types)) return Fail(error, "too many resources for one directory");
  // Directories breadth first (root, types, ids), then the data entries, then the data.
  uint64_t cursor = DirectorySize(types.size());
  for (TypeNode& type : types) {
    type.offset = static_cast<uint32_t>(cursor);
    cursor += DirectorySize(type.ids.size());
  }
  for (TypeNode& type : types) {
    for (IdNode& id : type.ids) {
      id.offset = static_cast<uint32_t>(cursor);
      cursor += DirectorySize(id.resources.size());
    }
  }
  const uint64_t dataEntries = cursor;
  cursor += uint64_t{kDataEntrySize} * sorted.size();
  std::vector<uint64_t> dataOffsets;
  for (const Resource& resource : sorted) {
    cursor = AlignUp(cursor, kDataAlignment);
    dataOffsets.push_back(cursor);
    cursor += resource.data.size();
    if (cursor > kMaxSectionSize || sectionRva + cursor > 0xFFFFFFFF) return Fail(error, "resources too large");
  }
  out->assign(cursor, 0);
  PutDirectory(*out, 0, types.size());
  for (size_t t = 0; t < types.size(); ++t) {
    PutEntry(*out, 0, t, types[t].type, types[t].offset | kHighBit);
    PutDirectory(*out, types[t].offset, types[t].ids.size());
    for (size_t i = 0; i < types[t].ids.size(); ++i) {
      const IdNode& id = types[t].ids[i];
      PutEntry(*out, types[t].offset, i, id.id, id.offset | kHighBit);
      PutDirectory(*out, id.offset, id.resources.size());
      for (size_t l = 0; l < id.resources.size(); ++l) {
        const size_t k = id.resources[l];
        PutEntry(*out, id.offset, l, sorted[k].language, static_cast<uint32_t>(dataEntries + kDataEntrySize * k));
      }
    }
  }
  for (size_t k = 0; k < sorted.size(); ++k) {
    const size_t entry = dataEntries + kDataEntrySize * k;
    Put32(*out, entry, static_cast<uint32_t>(sectionRva + dataOffsets[k]));
    Put32(*out, entry + 4, static_cast<uint32_t>(sorted[k].data.size()));
    if (!sorted[k].data.empty())
      std::memcpy(out->data() + dataOffsets[k], sorted[k].data.data(), sorted[k].data.size());
  }
  return true;
}

}  // namespace korvane::release
