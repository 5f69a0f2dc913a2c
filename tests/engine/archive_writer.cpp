#include "tests/engine/archive_writer.h"

#include "engine/checksum.h"

namespace korvane::testing {
namespace {

void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
std::uint32_t Pick(std::int64_t forced, std::size_t real) {
  return static_cast<std::uint32_t>(forced >= 0 ? static_cast<std::uint64_t>(forced) : real);
}

// New-layout header: CRC placeholder, type, flags, then the caller's fields.
Bytes StartHeader(std::uint8_t type, std::uint32_t flags) {
  Bytes h{0, 0, type};
  Put16(h, flags);
  return h;
}
// HeadCRC (bytes 0-1) covers the whole header from byte 2 on, as archivers write it.
void SealInto(Bytes& out, Bytes header, bool breakCrc) {
  std::uint16_t crc = static_cast<std::uint16_t>(~UpdateCrc32(0xFFFFFFFFu, header.data() + 2, header.size() - 2));
  if (breakCrc) crc ^= 0x5A5A;
  header[0] = static_cast<std::uint8_t>(crc);
  header[1] = static_cast<std::uint8_t>(crc >> 8);
  Append(out, header);
}

}  // namespace

std::uint32_t Crc32Of(const Bytes& data) { return ~UpdateCrc32(0xFFFFFFFFu, data.data(), data.size()); }
Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

EntrySpec StoredEntry(const std::string& name, const Bytes& content, bool oldLayout) {
  EntrySpec e;
  e.name = name;
  e.packed = content;
  e.unpSize = static_cast<std::uint32_t>(content.size());
  e.fileCrc = oldLayout ? UpdateOldChecksum(0, content.data(), content.size()) : Crc32Of(content);
  e.unpVer = oldLayout ? 2 : 20;
  e.method = oldLayout ? 0 : 0x30;
  e.time = (1998u - 1980) << 25 | 6 << 21 | 15 << 16 | 12 << 11 | 30 << 5 | 44 / 2;  // 1998-06-15 12:30:44
  return e;
}

NewArchiveWriter& NewArchiveWriter::Main(std::uint16_t flags, bool breakCrc) {
  Append(bytes_, {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00});
  Bytes h = StartHeader(0x73, flags);
  Put16(h, 13);
  Put16(h, 0);
  Put32(h, 0);
  SealInto(bytes_, h, breakCrc);
  return *this;
}

NewArchiveWriter& NewArchiveWriter::File(const EntrySpec& e) {
  Bytes h = StartHeader(0x74, e.flags | 0x8000u);
  Put16(h, Pick(e.headSize, 32 + e.name.size()));
  Put32(h, Pick(e.packSize, e.packed.size()));
  Put32(h, e.unpSize);
  h.push_back(e.hostOS);
  Put32(h, e.fileCrc);
  Put32(h, e.time);
  h.insert(h.end(), {e.unpVer, e.method});
  Put16(h, Pick(e.nameSize, e.name.size()));
  Put32(h, e.attr);
  Append(h, BytesOf(e.name));
  SealInto(bytes_, h, false);
  Append(bytes_, e.packed);
  return *this;
}

OldArchiveWriter& OldArchiveWriter::Main(std::uint8_t flags) {
  Append(bytes_, {0x52, 0x45, 0x7E, 0x5E, 7, 0, flags});
  return *this;
}

OldArchiveWriter& OldArchiveWriter::File(const EntrySpec& e) {
  Put32(bytes_, Pick(e.packSize, e.packed.size()));
  Put32(bytes_, e.unpSize);
  Put16(bytes_, e.fileCrc & 0xFFFF);
  Put16(bytes_, Pick(e.headSize, 21 + e.name.size()));
  Put32(bytes_, e.time);
  bytes_.insert(bytes_.end(), {static_cast<std::uint8_t>(e.attr), static_cast<std::uint8_t>(e.flags), e.unpVer,
                               static_cast<std::uint8_t>(Pick(e.nameSize, e.name.size())), e.method});
  Append(bytes_, BytesOf(e.name));
  Append(bytes_, e.packed);
  return *this;
}

std::vector<Bytes> StoredVolumeSet(const std::vector<SplitEntry>& entries, std::uint16_t mainFlags) {
  std::vector<Bytes> volumes;
  NewArchiveWriter current;
  current.Main(mainFlags);
  for (const SplitEntry& entry : entries) {
    std::vector<std::size_t> bounds{0};
    bounds.insert(bounds.end(), entry.cuts.begin(), entry.cuts.end());
    bounds.push_back(entry.content.size());
    const std::size_t parts = bounds.size() - 1;
    for (std::size_t p = 0; p < parts; ++p) {
      const bool last = p + 1 == parts;
      EntrySpec e = StoredEntry(entry.name, entry.content);
      e.packed.assign(entry.content.begin() + static_cast<std::ptrdiff_t>(bounds[p]),
                      entry.content.begin() + static_cast<std::ptrdiff_t>(bounds[p + 1]));
      e.flags = static_cast<std::uint16_t>((p > 0 ? 0x01 : 0) | (last ? 0 : 0x02));
      if (!last) e.fileCrc = 0xFFFFFFFFu;  // placeholder, as archivers write it
      current.File(e);
      if (!last) {
        volumes.push_back(current.bytes());
        current = NewArchiveWriter();
        current.Main(mainFlags);
      }
    }
  }
  volumes.push_back(current.bytes());
  return volumes;
}

}  // namespace korvane::testing
