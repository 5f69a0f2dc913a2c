// Every length is checked against the bytes that are there; a damaged chain ends the list.
#include "tests/support/archive_bytes.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <utility>

#include "engine/checksum.h"
#include "tests/support/corpus.h"

namespace korvane::testing {
namespace {

const Bytes kNewSignature{0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
const Bytes kOldSignature{0x52, 0x45, 0x7E, 0x5E};

// Little-endian fields of n bytes.
std::uint32_t Get(const Bytes& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  while (n-- > 0) v = v << 8 | b[at + n];
  return v;
}
void Set(Bytes& b, std::size_t at, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b[at + i] = static_cast<std::uint8_t>(v >> 8 * i);
}
// Appends fields given as {value, size in bytes}.
void Put(Bytes& b, std::initializer_list<std::pair<std::uint32_t, int>> fields) {
  for (const auto& [v, n] : fields) {
    b.resize(b.size() + n);
    Set(b, b.size() - n, v, n);
  }
}
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
}
std::string Text(const Bytes& b, std::size_t at, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(b.data() + at), size);
}
std::uint32_t Pick(std::int64_t forced, std::size_t real) {
  return static_cast<std::uint32_t>(forced >= 0 ? static_cast<std::uint64_t>(forced) : real);
}
// The low 16 bits of the complemented CRC-32 of a new-layout header from its byte 2 on.
std::uint32_t HeaderCrc(const Bytes& b, std::size_t at, std::size_t end) {
  return ~UpdateCrc32(0xFFFFFFFFu, b.data() + at + 2, end - at - 2) & 0xFFFF;
}
void Seal(Bytes& header, std::size_t at) { Set(header, at, HeaderCrc(header, at, header.size()), 2); }
std::size_t Find(const Bytes& b, const Bytes& signature, std::size_t from = 0) {
  const auto at = std::search(b.begin() + static_cast<std::ptrdiff_t>(from), b.end(), signature.begin(), signature.end());
  return at == b.end() ? std::string::npos : static_cast<std::size_t>(at - b.begin());
}

void ParseOld(const Bytes& b, std::size_t at, RawArchive& a) {
  if (at + 7 > b.size()) return;
  const std::size_t mainSize = Get(b, at + 4, 2);
  if (mainSize < 7 || at + mainSize > b.size()) return;
  a.Solid = (b[at + 6] & 0x08) != 0;
  a.VolumeFlag = (b[at + 6] & 0x01) != 0;
  a.Prefix = Slice(b, at, at + mainSize);
  a.Valid = true;
  for (std::size_t pos = at + mainSize; pos + 21 <= b.size();) {
    const std::uint32_t packSize = Get(b, pos, 4), headSize = Get(b, pos + 10, 2);
    const std::uint32_t flags = b[pos + 17], version = b[pos + 18], nameSize = b[pos + 19], method = b[pos + 20];
    // The header carries no checksum: implausible fields are what reject it.
    if (method > 7 || nameSize == 0 || nameSize > 80 || version == 0 || version > 20 || headSize < 22 ||
        (flags < 8 && headSize != nameSize + 21) || pos + 21 + nameSize > b.size() || pos + headSize > b.size() ||
        packSize > b.size() - pos - headSize)
      return;
    a.Entries.push_back({.Header = Slice(b, pos, pos + headSize),
                         .Packed = Slice(b, pos + headSize, pos + headSize + packSize),
                         .Name = Text(b, pos + 21, nameSize), .Flags = static_cast<std::uint16_t>(flags),
                         .UnpVer = static_cast<std::uint8_t>(version == 2 ? 13 : 10),
                         .Method = static_cast<std::uint8_t>(method + 0x30), .UnpSize = Get(b, pos + 4, 4),
                         .FileCrc = Get(b, pos + 8, 2), .FileAttr = b[pos + 16], .FileTime = Get(b, pos + 12, 4)});
    pos += headSize + packSize;
  }
}

void ParseNew(const Bytes& b, std::size_t at, RawArchive& a) {
  std::size_t pos = at + 7;
  if (pos + 13 > b.size() || b[pos + 2] != 0x73) return;
  const std::size_t mainSize = Get(b, pos + 5, 2);
  if (mainSize < 13 || pos + mainSize > b.size()) return;
  a.Solid = (b[pos + 3] & 0x08) != 0;
  a.VolumeFlag = (b[pos + 3] & 0x01) != 0;
  a.MainCrcOk = HeaderCrc(b, pos, pos + mainSize) == Get(b, pos, 2);
  a.Prefix = Slice(b, at, pos + mainSize);
  a.Valid = true;
  for (pos += mainSize; pos + 7 <= b.size();) {
    const std::uint32_t type = b[pos + 2], flags = Get(b, pos + 3, 2), headSize = Get(b, pos + 5, 2);
    if (headSize < 7 || ((flags & 0x8000) && pos + 11 > b.size())) return;
    const std::uint64_t next = pos + std::uint64_t{headSize} + ((flags & 0x8000) ? Get(b, pos + 7, 4) : 0);
    if (next > b.size()) return;
    if (type == 0x74) {
      if (headSize < 32 || pos + 32 + Get(b, pos + 26, 2) > b.size()) return;
      a.Entries.push_back({.Header = Slice(b, pos, pos + headSize), .Packed = Slice(b, pos + headSize, next),
                           .Name = Text(b, pos + 32, Get(b, pos + 26, 2)), .Flags = static_cast<std::uint16_t>(flags),
                           .UnpVer = b[pos + 24], .Method = b[pos + 25], .HostOS = b[pos + 15],
                           .UnpSize = Get(b, pos + 11, 4), .FileCrc = Get(b, pos + 16, 4),
                           .FileAttr = Get(b, pos + 28, 4), .FileTime = Get(b, pos + 20, 4),
                           .HeaderCrcOk = HeaderCrc(b, pos, pos + headSize) == Get(b, pos, 2)});
    }
    pos = static_cast<std::size_t>(next);
  }
}

}  // namespace

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::uint32_t Crc32Of(const Bytes& data) { return ~UpdateCrc32(0xFFFFFFFFu, data.data(), data.size()); }

EntrySpec StoredEntry(const std::string& name, const Bytes& content, bool oldLayout) {
  return {.Name = name, .Packed = content, .UnpSize = static_cast<std::uint32_t>(content.size()),
          .FileCrc = oldLayout ? UpdateOldChecksum(0, content.data(), content.size()) : Crc32Of(content),
          .UnpVer = static_cast<std::uint8_t>(oldLayout ? 2 : 20),
          .Method = static_cast<std::uint8_t>(oldLayout ? 0 : 0x30),
          .Time = (1998u - 1980) << 25 | 6 << 21 | 15 << 16 | 12 << 11 | 30 << 5 | 44 / 2};  // 1998-06-15 12:30:44
}

ArchiveWriter& ArchiveWriter::Main(std::uint16_t flags) {
  const auto low = static_cast<std::uint8_t>(flags), high = static_cast<std::uint8_t>(flags >> 8);
  if (OldLayout) {
    Append(Out, {0x52, 0x45, 0x7E, 0x5E, 7, 0, low});
    return *this;
  }
  Bytes h{0, 0, 0x73, low, high, 13, 0, 0, 0, 0, 0, 0, 0};
  Seal(h, 0);
  Append(Out, kNewSignature);
  Append(Out, h);
  return *this;
}

ArchiveWriter& ArchiveWriter::File(const EntrySpec& e) {
  const std::uint32_t packSize = Pick(e.PackSize, e.Packed.size()), nameSize = Pick(e.NameSize, e.Name.size());
  if (OldLayout) {
    Put(Out, {{packSize, 4}, {e.UnpSize, 4}, {e.FileCrc, 2}, {Pick(e.HeadSize, 21 + e.Name.size()), 2}, {e.Time, 4},
              {e.Attr, 1}, {e.Flags, 1}, {e.UnpVer, 1}, {nameSize, 1}, {e.Method, 1}});
    Append(Out, BytesOf(e.Name));
  } else {
    Bytes h{0, 0, 0x74};
    Put(h, {{e.Flags | 0x8000u, 2}, {Pick(e.HeadSize, 32 + e.Name.size()), 2}, {packSize, 4}, {e.UnpSize, 4},
            {e.HostOS, 1}, {e.FileCrc, 4}, {e.Time, 4}, {e.UnpVer, 1}, {e.Method, 1}, {nameSize, 2}, {e.Attr, 4}});
    Append(h, BytesOf(e.Name));
    Seal(h, 0);
    Append(Out, h);
  }
  Append(Out, e.Packed);
  return *this;
}

std::vector<Bytes> StoredVolumeSet(const std::vector<SplitEntry>& entries, std::uint16_t mainFlags) {
  std::vector<Bytes> volumes{ArchiveWriter().Main(mainFlags).Data()};
  for (const SplitEntry& entry : entries) {
    for (std::size_t p = 0; p <= entry.Cuts.size(); ++p) {
      const bool last = p == entry.Cuts.size();
      EntrySpec e = StoredEntry(entry.Name, entry.Content);
      e.Packed = Slice(entry.Content, p > 0 ? entry.Cuts[p - 1] : 0, last ? entry.Content.size() : entry.Cuts[p]);
      e.Flags = static_cast<std::uint16_t>((p > 0 ? 0x01 : 0) | (last ? 0 : 0x02));
      if (!last) e.FileCrc = 0xFFFFFFFFu;  // placeholder, as archivers write it
      Append(volumes.back(), ArchiveWriter().File(e).Data());
      if (!last) volumes.push_back(ArchiveWriter().Main(mainFlags).Data());
    }
  }
  return volumes;
}

RawArchive ParseArchive(const Bytes& bytes) {
  RawArchive a;
  // A leading program may hold the signature's bytes: the archive is where a main header follows.
  std::size_t newAt = Find(bytes, kNewSignature);
  while (newAt != std::string::npos && (newAt + 9 >= bytes.size() || bytes[newAt + 9] != 0x73))
    newAt = Find(bytes, kNewSignature, newAt + 1);
  const std::size_t oldAt = Find(bytes, kOldSignature);
  a.OldLayout = oldAt != std::string::npos && (newAt == std::string::npos || oldAt < newAt);
  if (a.OldLayout)
    ParseOld(bytes, oldAt, a);
  else if (newAt != std::string::npos)
    ParseNew(bytes, newAt, a);
  a.Volumes = a.Valid ? 1 : 0;
  return a;
}

RawArchive ReadArchiveSet(const std::string& path, bool followVolumes) {
  RawArchive a = ParseArchive(ReadWholeFile(path));
  const std::size_t dot = path.rfind('.');
  for (int index = 0; followVolumes && a.Valid && index < 100; ++index) {
    if (a.Entries.empty() || !(a.Entries.back().Flags & 0x02) || dot == std::string::npos || dot + 4 != path.size())
      break;
    // name.rar -> name.r00, name.r01, ..., keeping the case of the extension's letter.
    const char digits[] = {static_cast<char>('0' + index / 10), static_cast<char>('0' + index % 10), 0};
    RawArchive volume = ParseArchive(ReadWholeFile(path.substr(0, dot + 2) + digits));
    if (!volume.Valid || volume.OldLayout != a.OldLayout) break;
    for (RawEntry& e : volume.Entries) {
      if (!(e.Flags & 0x01) || a.Entries.empty()) {
        a.Entries.push_back(std::move(e));
        continue;
      }
      // The last part's checksum is the one of the whole entry.
      RawEntry& joined = a.Entries.back();
      Append(joined.Packed, e.Packed);
      joined.FileCrc = e.FileCrc;
      joined.Flags = static_cast<std::uint16_t>((joined.Flags & ~0x02) | (e.Flags & 0x02));
      joined.HeaderCrcOk = joined.HeaderCrcOk && e.HeaderCrcOk;
    }
    a.Volumes += 1;
  }
  return a;
}

std::vector<Bytes> Resplit(const RawArchive& a, const std::vector<std::uint64_t>& cuts) {
  Bytes prefix = a.Prefix;
  prefix[a.OldLayout ? 6 : 7 + 3] |= 0x01;
  if (!a.OldLayout) Seal(prefix, 7);
  std::vector<Bytes> volumes{prefix};
  std::size_t nextCut = 0;
  for (std::size_t i = 0; i < a.Entries.size(); ++i) {
    const RawEntry& e = a.Entries[i];
    const std::uint64_t start = a.PackedStart(i), end = start + e.Packed.size();
    // Cuts before this entry's data that were not used (between entries of size 0) are skipped.
    while (nextCut < cuts.size() && cuts[nextCut] <= start && cuts[nextCut] != end) ++nextCut;
    std::vector<std::size_t> bounds{0};
    for (; nextCut < cuts.size() && cuts[nextCut] > start && cuts[nextCut] <= end; ++nextCut)
      bounds.push_back(static_cast<std::size_t>(cuts[nextCut] - start));
    bounds.push_back(e.Packed.size());
    for (std::size_t p = 0; p + 1 < bounds.size(); ++p) {
      if (p > 0) volumes.push_back(prefix);
      Bytes h = e.Header;
      const std::size_t flagsAt = a.OldLayout ? 17 : 3;
      const int partFlags = (p > 0 ? 0x01 : 0) | (p + 2 < bounds.size() ? 0x02 : 0);
      h[flagsAt] = static_cast<std::uint8_t>((h[flagsAt] & ~0x03) | partFlags);
      Set(h, a.OldLayout ? 0 : 7, static_cast<std::uint32_t>(bounds[p + 1] - bounds[p]), 4);
      if (!a.OldLayout) Seal(h, 0);
      Append(volumes.back(), h);
      Append(volumes.back(), Slice(e.Packed, bounds[p], bounds[p + 1]));
    }
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
