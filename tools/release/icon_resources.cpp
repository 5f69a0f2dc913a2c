// Icons as resources, and putting a release's resources in among the stub's.
//
// An .ico file is a 6-byte header (reserved 0, type 1, count) and 16-byte entries whose last
// field is the offset of the image in the file. In an executable each image is an RT_ICON of
// its own and the RT_GROUP_ICON lists them in 14-byte entries whose last field is the icon's
// resource id instead.
#include <algorithm>
#include <set>

#include "tools/release/byte_io.h"
#include "tools/release/pe_resources.h"
#include "tools/release/resource_tree.h"

namespace korvane::release {
namespace {

constexpr size_t kIconHeaderSize = 6;
constexpr size_t kFileEntrySize = 16;
constexpr size_t kGroupEntrySize = 14;
constexpr uint16_t kIconType = 1;

// The icon ids an RT_GROUP_ICON lists; as many as can be read from a damaged one.
std::set<uint16_t> GroupIconIds(const std::vector<uint8_t>& group) {
  const ByteView bytes(group);
  std::set<uint16_t> ids;
  uint16_t count = 0;
  if (!bytes.U16(4, &count)) return ids;
  for (size_t i = 0; i < count; ++i) {
    uint16_t id = 0;
    if (!bytes.U16(kIconHeaderSize + i * kGroupEntrySize + 12, &id)) break;
    ids.insert(id);
  }
  return ids;
}

}  // namespace

bool IconResourcesFromIco(const std::vector<uint8_t>& ico, uint16_t groupId, uint16_t firstIconId, uint16_t language,
                          std::vector<Resource>* out, std::string* error) {
  const ByteView file(ico);
  uint16_t reserved = 0;
  uint16_t type = 0;
  uint16_t count = 0;
  if (!file.U16(0, &reserved) || !file.U16(2, &type) || !file.U16(4, &count) || reserved != 0 || type != kIconType) {
    return Fail(error, "not an icon file");
  }
  if (count == 0) return Fail(error, "icon file holds no images");
  if (!file.Has(kIconHeaderSize, size_t{count} * kFileEntrySize))
    return Fail(error, "icon file's directory is cut short");
  if (groupId == 0 || firstIconId == 0 || uint32_t{firstIconId} + count - 1 > 0xFFFF) {
    return Fail(error, "icon resource ids out of range");
  }
  std::vector<Resource> resources;
  Resource group{kResourceGroupIcon, groupId, language,
                 std::vector<uint8_t>(ico.begin(), ico.begin() + kIconHeaderSize)};
  for (uint16_t i = 0; i < count; ++i) {
    const size_t entry = kIconHeaderSize + size_t{i} * kFileEntrySize;
    uint32_t size = 0;
    uint32_t offset = 0;
    file.U32(entry + 8, &size);
    file.U32(entry + 12, &offset);
    if (size == 0 || !file.Has(offset, size))
      return Fail(error, "icon image " + std::to_string(i) + " lies outside the file");
    const uint16_t id = static_cast<uint16_t>(firstIconId + i);
    resources.push_back(
        Resource{kResourceIcon, id, language, std::vector<uint8_t>(ico.begin() + offset, ico.begin() + offset + size)});
    // The group entry is the file entry's first 12 bytes followed by the resource id.
    group.data.insert(group.data.end(), ico.begin() + entry, ico.begin() + entry + 12);
    group.data.resize(group.data.size() + 2);
    Put16(group.data, group.data.size() - 2, id);
  }
  resources.push_back(std::move(group));
  out->swap(resources);
  return true;
}

std::vector<Resource> MergeResources(std::vector<Resource> stubResources, std::vector<Resource> replacements,
                                     bool replaceIcons) {
  std::set<std::pair<uint16_t, uint16_t>> replaced;
  for (const Resource& r : replacements) replaced.insert({r.type, r.id});
  std::set<uint16_t> staleIcons;
  if (replaceIcons) {
    for (const Resource& r : stubResources) {
      if (r.type == kResourceGroupIcon && replaced.count({r.type, r.id}) != 0) {
        const std::set<uint16_t> ids = GroupIconIds(r.data);
        staleIcons.insert(ids.begin(), ids.end());
      }
    }
  }
  auto displaced = [&](const Resource& r) {
    return replaced.count({r.type, r.id}) != 0 || (r.type == kResourceIcon && staleIcons.count(r.id) != 0);
  };
  stubResources.erase(std::remove_if(stubResources.begin(), stubResources.end(), displaced), stubResources.end());
  for (Resource& r : replacements) stubResources.push_back(std::move(r));
  std::stable_sort(stubResources.begin(), stubResources.end(), ResourceKeyLess);
  return stubResources;
}

}  // namespace korvane::release
