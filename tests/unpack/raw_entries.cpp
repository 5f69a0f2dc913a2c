// A plain reader of archive block headers for tests; every length is checked against the
// file, and a damaged chain simply ends the list.
#include "tests/unpack/raw_entries.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "engine/checksum.h"

namespace korvane::testing {
namespace {

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t Le16(const std::vector<std::uint8_t>& b, std::size_t at) { return b[at] | (b[at + 1] << 8); }
std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

constexpr std::uint8_t kNewSignature[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr std::uint8_t kOldSignature[4] = {0x52, 0x45, 0x7E, 0x5E};

std::size_t FindSignature(const std::vector<std::uint8_t>& b, const std::uint8_t* sig, std::size_t size) {
  for (std::size_t at = 0; at + size <= b.size(); ++at)
    if (std::memcmp(b.data() + at, sig, size) == 0) return at;
  return std::string::npos;
}

struct VolumeResult {
  bool Valid = false;
  bool LastContinues = false;
};

// Appends this volume's entries; a part continued from the previous volume joins the
// previous entry and replaces its checksum (the last part's is the one that counts).
VolumeResult ReadVolume(const std::vector<std::uint8_t>& b, RawArchive& archive, bool first) {
  VolumeResult result;
  const std::size_t newAt = FindSignature(b, kNewSignature, 7);
  const std::size_t oldAt = FindSignature(b, kOldSignature, 4);
  const bool old = oldAt != std::string::npos && (newAt == std::string::npos || oldAt < newAt);
  if (!old && newAt == std::string::npos) return result;
  if (first) archive.OldLayout = old;
  else if (archive.OldLayout != old) return result;

  std::vector<RawEntry> entries;
  std::size_t pos;
  if (old) {
    if (oldAt + 7 > b.size()) return result;
    if (first) archive.Solid = (b[oldAt + 6] & 0x08) != 0;
    pos = oldAt + Le16(b, oldAt + 4);
    while (pos + 21 <= b.size()) {
      RawEntry e;
      const std::uint32_t packSize = Le32(b, pos);
      e.UnpSize = Le32(b, pos + 4);
      e.FileCrc = Le16(b, pos + 8);
      const std::uint32_t headSize = Le16(b, pos + 10);
      e.FileAttr = b[pos + 16];
      e.Flags = b[pos + 17];
      const std::uint32_t oldVer = b[pos + 18];
      const std::uint32_t nameSize = b[pos + 19];
      const std::uint32_t method = b[pos + 20];
      if (method > 7 || nameSize == 0 || nameSize > 80 || oldVer == 0 || oldVer > 20 || headSize < 22 ||
          (e.Flags < 8 && headSize != nameSize + 21))
        break;
      e.UnpVer = oldVer == 2 ? 13 : 10;
      e.Method = static_cast<std::uint8_t>(method + 0x30);
      if (pos + 21 + nameSize > b.size()) break;
      e.Name.assign(reinterpret_cast<const char*>(b.data() + pos + 21), nameSize);
      const std::size_t dataAt = pos + headSize;
      if (dataAt > b.size() || packSize > b.size() - dataAt) break;
      e.Packed.assign(b.begin() + static_cast<std::ptrdiff_t>(dataAt), b.begin() + static_cast<std::ptrdiff_t>(dataAt + packSize));
      entries.push_back(std::move(e));
      pos = dataAt + packSize;
    }
  } else {
    pos = newAt + 7;
    if (pos + 13 > b.size() || b[pos + 2] != 0x73) return result;
    if (first) archive.Solid = (Le16(b, pos + 3) & 0x08) != 0;
    pos += Le16(b, pos + 5);
    while (pos + 7 <= b.size()) {
      const std::uint32_t type = b[pos + 2];
      const std::uint32_t flags = Le16(b, pos + 3);
      const std::uint32_t headSize = Le16(b, pos + 5);
      if (headSize < 7) break;
      std::uint64_t added = 0;
      if (flags & 0x8000) {
        if (pos + 11 > b.size()) break;
        added = Le32(b, pos + 7);
      }
      const std::uint64_t next = pos + std::uint64_t{headSize} + added;
      if (type == 0x74) {
        if (pos + 32 > b.size() || headSize < 32) break;
        RawEntry e;
        e.Flags = static_cast<std::uint16_t>(flags);
        e.UnpSize = Le32(b, pos + 11);
        e.FileCrc = Le32(b, pos + 16);
        e.UnpVer = b[pos + 24];
        e.Method = b[pos + 25];
        const std::uint32_t nameSize = Le16(b, pos + 26);
        e.FileAttr = Le32(b, pos + 28);
        if (b[pos + 15] >= 3) e.FileAttr = (flags & 0xE0) == 0xE0 ? 0x10 : 0x20;
        if (pos + 32 + nameSize > b.size()) break;
        e.Name.assign(reinterpret_cast<const char*>(b.data() + pos + 32), nameSize);
        if (next > b.size()) break;
        e.Packed.assign(b.begin() + static_cast<std::ptrdiff_t>(pos + headSize), b.begin() + static_cast<std::ptrdiff_t>(next));
        entries.push_back(std::move(e));
      }
      if (next <= pos) break;
      pos = static_cast<std::size_t>(next);
    }
  }

  for (RawEntry& e : entries) {
    if ((e.Flags & 0x01) && !archive.Entries.empty() && !first) {
      RawEntry& joined = archive.Entries.back();
      joined.Packed.insert(joined.Packed.end(), e.Packed.begin(), e.Packed.end());
      joined.FileCrc = e.FileCrc;
      joined.Flags = static_cast<std::uint16_t>((joined.Flags & ~0x02) | (e.Flags & 0x02));
    } else {
      archive.Entries.push_back(std::move(e));
    }
  }
  result.Valid = true;
  result.LastContinues = !archive.Entries.empty() && (archive.Entries.back().Flags & 0x02);
  return result;
}

// name.rar -> name.r00 -> name.r01 ..., keeping the case of the extension's letter.
std::string NextVolumeName(const std::string& path, int index) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot + 4 != path.size()) return {};
  const char r = path[dot + 1];
  char digits[3];
  digits[0] = static_cast<char>('0' + index / 10 % 10);
  digits[1] = static_cast<char>('0' + index % 10);
  digits[2] = '\0';
  return path.substr(0, dot + 1) + r + digits;
}

}  // namespace

bool RawEntry::Directory() const { return (FileAttr & 0x10) != 0 || (Flags & 0xE0) == 0xE0; }

RawArchive ReadRawArchive(const std::string& path, bool followVolumes) {
  RawArchive archive;
  VolumeResult volume = ReadVolume(ReadFile(path), archive, true);
  if (!volume.Valid) return archive;
  archive.Valid = true;
  archive.Volumes = 1;
  for (int index = 0; followVolumes && volume.LastContinues && index < 100; ++index) {
    const std::string next = NextVolumeName(path, index);
    std::vector<std::uint8_t> bytes = ReadFile(next);
    if (next.empty() || bytes.empty()) break;
    volume = ReadVolume(bytes, archive, false);
    if (!volume.Valid) break;
    ++archive.Volumes;
  }
  return archive;
}

std::uint32_t EntryChecksum(const RawArchive& archive, const std::vector<std::uint8_t>& data) {
  if (archive.OldLayout) return UpdateOldChecksum(0, data.data(), data.size());
  return ~UpdateCrc32(0xFFFFFFFFu, data.data(), data.size());
}

}  // namespace korvane::testing
