// Every length is checked against the bytes that are there; a damaged chain ends the list.
#include "tests/support/archive_bytes.h"

#include <cstdio>
#include <cstring>

#include "engine/checksum.h"
#include "tests/support/corpus.h"

namespace korvane::testing {
namespace {

constexpr std::uint8_t kNewSignature[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr std::uint8_t kOldSignature[4] = {0x52, 0x45, 0x7E, 0x5E};

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
void Put16(Bytes& b, std::uint32_t v) {
  b.resize(b.size() + 2);
  Set16(b, b.size() - 2, v);
}
void Put32(Bytes& b, std::uint32_t v) {
  b.resize(b.size() + 4);
  Set32(b, b.size() - 4, v);
}
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
}
std::uint32_t Pick(std::int64_t forced, std::size_t real) {
  return static_cast<std::uint32_t>(forced >= 0 ? static_cast<std::uint64_t>(forced) : real);
}
// The low 16 bits of the complemented CRC-32 of a new-layout header from its byte 2 on.
std::uint32_t HeaderCrc(const Bytes& b, std::size_t at, std::size_t end) {
  return ~UpdateCrc32(0xFFFFFFFFu, b.data() + at + 2, end - at - 2) & 0xFFFF;
}
void Seal(Bytes& header, std::size_t at) { Set16(header, at, HeaderCrc(header, at, header.size())); }
std::size_t Find(const Bytes& b, const std::uint8_t* signature, std::size_t size) {
  for (std::size_t at = 0; at + size <= b.size(); ++at)
    if (std::memcmp(b.data() + at, signature, size) == 0) return at;
  return std::string::npos;
}

void ParseOld(const Bytes& b, std::size_t at, RawArchive& a) {
  if (at + 7 > b.size()) return;
  const std::size_t mainSize = Get16(b, at + 4);
  if (mainSize < 7 || at + mainSize > b.size()) return;
  a.Solid = (b[at + 6] & 0x08) != 0;
  a.VolumeFlag = (b[at + 6] & 0x01) != 0;
  a.Prefix = Slice(b, at, at + mainSize);
  a.Valid = true;
  for (std::size_t pos = at + mainSize; pos + 21 <= b.size();) {
    const std::uint32_t packSize = Get32(b, pos), headSize = Get16(b, pos + 10);
    const std::uint32_t flags = b[pos + 17], version = b[pos + 18], nameSize = b[pos + 19], method = b[pos + 20];
    // The header carries no checksum: implausible fields are what reject it.
    if (method > 7 || nameSize == 0 || nameSize > 80 || version == 0 || version > 20 || headSize < 22 ||
        (flags < 8 && headSize != nameSize + 21) || pos + 21 + nameSize > b.size() || pos + headSize > b.size() ||
        packSize > b.size() - pos - headSize)
      return;
    RawEntry e;
    e.Header = Slice(b, pos, pos + headSize);
    e.Packed = Slice(b, pos + headSize, pos + headSize + packSize);
    e.Name.assign(reinterpret_cast<const char*>(b.data() + pos + 21), nameSize);
    e.Flags = static_cast<std::uint16_t>(flags);
    e.UnpVer = version == 2 ? 13 : 10;
    e.Method = static_cast<std::uint8_t>(method + 0x30);
    e.UnpSize = Get32(b, pos + 4);
    e.FileCrc = Get16(b, pos + 8);
    e.FileTime = Get32(b, pos + 12);
    e.FileAttr = b[pos + 16];
    a.Entries.push_back(std::move(e));
    pos += headSize + packSize;
  }
}

void ParseNew(const Bytes& b, std::size_t at, RawArchive& a) {
  std::size_t pos = at + 7;
  if (pos + 13 > b.size() || b[pos + 2] != 0x73) return;
  const std::size_t mainSize = Get16(b, pos + 5);
  if (mainSize < 13 || pos + mainSize > b.size()) return;
  a.Solid = (Get16(b, pos + 3) & 0x08) != 0;
  a.VolumeFlag = (Get16(b, pos + 3) & 0x01) != 0;
  a.MainCrcOk = HeaderCrc(b, pos, pos + mainSize) == Get16(b, pos);
  a.Prefix = Slice(b, at, pos + mainSize);
  a.Valid = true;
  for (pos += mainSize; pos + 7 <= b.size();) {
    const std::uint32_t type = b[pos + 2], flags = Get16(b, pos + 3), headSize = Get16(b, pos + 5);
    if (headSize < 7 || ((flags & 0x8000) && pos + 11 > b.size())) return;
    const std::uint64_t next = pos + std::uint64_t{headSize} + ((flags & 0x8000) ? Get32(b, pos + 7) : 0);
    if (next > b.size()) return;
    if (type == 0x74) {
      if (headSize < 32 || pos + 32 + Get16(b, pos + 26) > b.size()) return;
      RawEntry e;
      e.Header = Slice(b, pos, pos + headSize);
      e.Packed = Slice(b, pos + headSize, static_cast<std::size_t>(next));
      e.Name.assign(reinterpret_cast<const char*>(b.data() + pos + 32), Get16(b, pos + 26));
      e.Flags = static_cast<std::uint16_t>(flags);
      e.UnpSize = Get32(b, pos + 11);
      e.HostOS = b[pos + 15];
      e.FileCrc = Get32(b, pos + 16);
      e.FileTime = Get32(b, pos + 20);
      e.UnpVer = b[pos + 24];
      e.Method = b[pos + 25];
      e.FileAttr = Get32(b, pos + 28);
      e.HeaderCrcOk = HeaderCrc(b, pos, pos + headSize) == Get16(b, pos);
      a.Entries.push_back(std::move(e));
    }
    pos = static_cast<std::size_t>(next);
  }
}

}  // namespace

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::uint32_t Crc32Of(const Bytes& data) { return ~UpdateCrc32(0xFFFFFFFFu, data.data(), data.size()); }

EntrySpec StoredEntry(const std::string& name, const Bytes& content, bool oldLayout) {
  EntrySpec e;
  e.Name = name;
  e.Packed = content;
  e.UnpSize = static_cast<std::uint32_t>(content.size());
  e.FileCrc = oldLayout ? UpdateOldChecksum(0, content.data(), content.size()) : Crc32Of(content);
  e.UnpVer = oldLayout ? 2 : 20;
  e.Method = oldLayout ? 0 : 0x30;
  e.Time = (1998u - 1980) << 25 | 6 << 21 | 15 << 16 | 12 << 11 | 30 << 5 | 44 / 2;  // 1998-06-15 12:30:44
  return e;
}

ArchiveWriter& ArchiveWriter::Main(std::uint16_t flags, bool breakCrc) {
  if (OldLayout) {
    Append(Out, {0x52, 0x45, 0x7E, 0x5E, 7, 0, static_cast<std::uint8_t>(flags)});
    return *this;
  }
  Append(Out, Bytes(kNewSignature, kNewSignature + 7));
  Bytes h{0, 0, 0x73};
  Put16(h, flags);
  Put16(h, 13);
  Put16(h, 0);
  Put32(h, 0);
  Seal(h, 0);
  if (breakCrc) h[0] ^= 0x5A;
  Append(Out, h);
  return *this;
}

ArchiveWriter& ArchiveWriter::File(const EntrySpec& e) {
  if (OldLayout) {
    Put32(Out, Pick(e.PackSize, e.Packed.size()));
    Put32(Out, e.UnpSize);
    Put16(Out, e.FileCrc & 0xFFFF);
    Put16(Out, Pick(e.HeadSize, 21 + e.Name.size()));
    Put32(Out, e.Time);
    Append(Out, {static_cast<std::uint8_t>(e.Attr), static_cast<std::uint8_t>(e.Flags), e.UnpVer,
                 static_cast<std::uint8_t>(Pick(e.NameSize, e.Name.size())), e.Method});
    Append(Out, BytesOf(e.Name));
  } else {
    Bytes h{0, 0, 0x74};
    Put16(h, e.Flags | 0x8000u);
    Put16(h, Pick(e.HeadSize, 32 + e.Name.size()));
    Put32(h, Pick(e.PackSize, e.Packed.size()));
    Put32(h, e.UnpSize);
    h.push_back(e.HostOS);
    Put32(h, e.FileCrc);
    Put32(h, e.Time);
    Append(h, {e.UnpVer, e.Method});
    Put16(h, Pick(e.NameSize, e.Name.size()));
    Put32(h, e.Attr);
    Append(h, BytesOf(e.Name));
    Seal(h, 0);
    Append(Out, h);
  }
  Append(Out, e.Packed);
  return *this;
}

std::vector<Bytes> StoredVolumeSet(const std::vector<SplitEntry>& entries, std::uint16_t mainFlags) {
  std::vector<Bytes> volumes;
  ArchiveWriter current;
  current.Main(mainFlags);
  for (const SplitEntry& entry : entries) {
    std::vector<std::size_t> bounds{0};
    bounds.insert(bounds.end(), entry.Cuts.begin(), entry.Cuts.end());
    bounds.push_back(entry.Content.size());
    for (std::size_t p = 0; p + 1 < bounds.size(); ++p) {
      const bool last = p + 2 == bounds.size();
      EntrySpec e = StoredEntry(entry.Name, entry.Content);
      e.Packed = Slice(entry.Content, bounds[p], bounds[p + 1]);
      e.Flags = static_cast<std::uint16_t>((p > 0 ? 0x01 : 0) | (last ? 0 : 0x02));
      if (!last) e.FileCrc = 0xFFFFFFFFu;  // placeholder, as archivers write it
      current.File(e);
      if (!last) {
        volumes.push_back(current.Data());
        current = ArchiveWriter();
        current.Main(mainFlags);
      }
    }
  }
  volumes.push_back(current.Data());
  return volumes;
}

bool RawEntry::Directory() const {
  if ((Flags & 0xE0) == 0xE0) return true;
  return HostOS < 3 && (FileAttr & 0x10) != 0;
}

std::uint64_t RawArchive::PackedStart(std::size_t i) const {
  std::uint64_t sum = 0;
  for (std::size_t k = 0; k < i && k < Entries.size(); ++k) sum += Entries[k].Packed.size();
  return sum;
}

RawArchive ParseArchive(const Bytes& bytes) {
  RawArchive a;
  const std::size_t newAt = Find(bytes, kNewSignature, 7), oldAt = Find(bytes, kOldSignature, 4);
  a.OldLayout = oldAt != std::string::npos && (newAt == std::string::npos || oldAt < newAt);
  if (a.OldLayout) {
    ParseOld(bytes, oldAt, a);
  } else if (newAt != std::string::npos) {
    ParseNew(bytes, newAt, a);
  }
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
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02d", index);
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
      joined.Parts += 1;
    }
    a.Volumes += 1;
  }
  return a;
}

std::uint32_t EntryChecksum(const RawArchive& archive, const Bytes& data) {
  if (archive.OldLayout) return UpdateOldChecksum(0, data.data(), data.size());
  return Crc32Of(data);
}

std::vector<Bytes> Resplit(const RawArchive& a, const std::vector<std::uint64_t>& cuts) {
  Bytes prefix = a.Prefix;
  if (a.OldLayout) {
    prefix[6] |= 0x01;
  } else {
    Set16(prefix, 7 + 3, Get16(prefix, 7 + 3) | 0x01);
    Seal(prefix, 7);
  }
  std::vector<Bytes> volumes{prefix};
  auto addPart = [&](const RawEntry& e, std::size_t from, std::size_t to, bool before, bool after) {
    Bytes h = e.Header;
    const std::uint32_t partFlags = (before ? 0x01 : 0) | (after ? 0x02 : 0);
    if (a.OldLayout) {
      Set32(h, 0, static_cast<std::uint32_t>(to - from));
      h[17] = static_cast<std::uint8_t>((h[17] & ~0x03) | partFlags);
    } else {
      Set16(h, 3, (Get16(h, 3) & ~0x03u) | partFlags);
      Set32(h, 7, static_cast<std::uint32_t>(to - from));
      Seal(h, 0);
    }
    Append(volumes.back(), h);
    Append(volumes.back(), Slice(e.Packed, from, to));
  };
  std::size_t nextCut = 0;
  for (std::size_t i = 0; i < a.Entries.size(); ++i) {
    const RawEntry& e = a.Entries[i];
    const std::uint64_t start = a.PackedStart(i), end = start + e.Packed.size();
    std::size_t from = 0;
    bool before = false;
    // Cuts before this entry's data that were not used (between entries of size 0) are skipped.
    while (nextCut < cuts.size() && cuts[nextCut] <= start && cuts[nextCut] != end) ++nextCut;
    for (; nextCut < cuts.size() && cuts[nextCut] > start && cuts[nextCut] <= end; ++nextCut) {
      const std::size_t to = static_cast<std::size_t>(cuts[nextCut] - start);
      addPart(e, from, to, before, true);
      volumes.push_back(prefix);
      from = to;
      before = true;
    }
    addPart(e, from, e.Packed.size(), before, false);
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
