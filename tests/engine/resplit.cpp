#include "tests/engine/resplit.h"

#include <cstdio>

#include "engine/checksum.h"

namespace korvane::testing {
namespace {

std::uint32_t Get16(const Bytes& b, std::size_t at) { return b[at] | b[at + 1] << 8; }
std::uint32_t Get32(const Bytes& b, std::size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }
void Set16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Set32(Bytes& b, std::size_t at, std::uint32_t v) {
  Set16(b, at, v & 0xFFFF);
  Set16(b, at + 2, v >> 16);
}
Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
}
void Reseal(Bytes& header, std::size_t at) {
  Set16(header, at, ~UpdateCrc32(0xFFFFFFFFu, header.data() + at + 2, header.size() - at - 2) & 0xFFFF);
}

}  // namespace

std::uint64_t ParsedArchive::PackedTotal() const { return PackedStart(entries.size()); }

std::uint64_t ParsedArchive::PackedStart(std::size_t i) const {
  std::uint64_t sum = 0;
  for (std::size_t k = 0; k < i && k < entries.size(); ++k) sum += entries[k].data.size();
  return sum;
}

std::optional<ParsedArchive> ParseArchive(const Bytes& b) {
  ParsedArchive a;
  std::size_t pos;
  if (b.size() >= 7 && b[0] == 0x52 && b[1] == 0x45 && b[2] == 0x7E && b[3] == 0x5E) {
    a.oldLayout = true;
    const std::size_t size = Get16(b, 4);
    if (size < 7 || size > b.size()) return std::nullopt;
    a.prefix = Slice(b, 0, size);
    pos = size;
    while (pos + 21 <= b.size()) {
      const std::uint32_t pack = Get32(b, pos), head = Get16(b, pos + 10);
      if (head < 21 || pos + head + pack > b.size()) return std::nullopt;
      a.entries.push_back({Slice(b, pos, pos + head), Slice(b, pos + head, pos + head + pack)});
      pos += head + pack;
    }
    return a;
  }
  if (b.size() < 20 || b[0] != 0x52 || b[1] != 0x61) return std::nullopt;
  const std::size_t mainSize = Get16(b, 7 + 5);
  if (mainSize < 13 || 7 + mainSize > b.size()) return std::nullopt;
  a.prefix = Slice(b, 0, 7 + mainSize);
  pos = 7 + mainSize;
  while (pos + 7 <= b.size()) {
    const std::uint32_t type = b[pos + 2], flags = Get16(b, pos + 3), head = Get16(b, pos + 5);
    const std::uint32_t added = (flags & 0x8000) && pos + 11 <= b.size() ? Get32(b, pos + 7) : 0;
    if (head < 7 || pos + head + added > b.size()) break;
    if (type == 0x74) a.entries.push_back({Slice(b, pos, pos + head), Slice(b, pos + head, pos + head + added)});
    pos += head + added;
  }
  return a;
}

std::vector<Bytes> Resplit(const ParsedArchive& a, const std::vector<std::uint64_t>& cuts) {
  Bytes prefix = a.prefix;
  if (a.oldLayout) {
    prefix[6] |= 0x01;
  } else {
    Set16(prefix, 7 + 3, Get16(prefix, 7 + 3) | 0x01);
    Reseal(prefix, 7);
  }
  std::vector<Bytes> volumes{prefix};
  auto addPart = [&](const ParsedEntry& e, std::size_t from, std::size_t to, bool before, bool after) {
    Bytes h = e.header;
    const std::uint32_t partFlags = (before ? 0x01 : 0) | (after ? 0x02 : 0);
    if (a.oldLayout) {
      Set32(h, 0, static_cast<std::uint32_t>(to - from));
      h[17] = static_cast<std::uint8_t>((h[17] & ~0x03) | partFlags);
    } else {
      Set16(h, 3, (Get16(h, 3) & ~0x03u) | partFlags);
      Set32(h, 7, static_cast<std::uint32_t>(to - from));
      Reseal(h, 0);
    }
    const Bytes data = Slice(e.data, from, to);
    volumes.back().insert(volumes.back().end(), h.begin(), h.end());
    volumes.back().insert(volumes.back().end(), data.begin(), data.end());
  };
  std::size_t nextCut = 0;
  for (std::size_t i = 0; i < a.entries.size(); ++i) {
    const ParsedEntry& e = a.entries[i];
    const std::uint64_t start = a.PackedStart(i), end = start + e.data.size();
    std::size_t from = 0;
    bool before = false;
    // Cuts before this entry's data that were not used (between entries of size 0) are skipped.
    while (nextCut < cuts.size() && cuts[nextCut] <= start && !(cuts[nextCut] == end)) ++nextCut;
    while (nextCut < cuts.size() && cuts[nextCut] > start && cuts[nextCut] <= end) {
      const std::size_t to = static_cast<std::size_t>(cuts[nextCut] - start);
      addPart(e, from, to, before, true);
      volumes.push_back(prefix);
      from = to;
      before = true;
      ++nextCut;
    }
    addPart(e, from, e.data.size(), before, false);
  }
  return volumes;
}

std::string VolumeFileName(const std::string& stem, std::size_t index) {
  if (index == 0) return stem + ".rar";
  // .r00 to .r99, then .s00: the letter counts the hundreds.
  char ext[32];
  std::snprintf(ext, sizeof ext, ".%c%02zu", static_cast<char>('r' + (index - 1) / 100), (index - 1) % 100);
  return stem + ext;
}

}  // namespace korvane::testing
