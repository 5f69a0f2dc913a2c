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

// Fills in HeadCRC (bytes 0-1) over the whole header from byte 2 on, as archivers do.
void SealHeader(Bytes& header, bool breakCrc) {
  std::uint16_t crc = static_cast<std::uint16_t>(~UpdateCrc32(0xFFFFFFFFu, header.data() + 2, header.size() - 2));
  if (breakCrc) crc ^= 0x5A5A;
  header[0] = static_cast<std::uint8_t>(crc);
  header[1] = static_cast<std::uint8_t>(crc >> 8);
}

}  // namespace

std::uint32_t Crc32Of(const Bytes& data) { return ~UpdateCrc32(0xFFFFFFFFu, data.data(), data.size()); }
std::uint16_t OldChecksumOf(const Bytes& data) { return UpdateOldChecksum(0, data.data(), data.size()); }
Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::uint32_t DosTime(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<std::uint32_t>(year - 1980) << 25 | static_cast<std::uint32_t>(month) << 21 |
         static_cast<std::uint32_t>(day) << 16 | static_cast<std::uint32_t>(hour) << 11 |
         static_cast<std::uint32_t>(minute) << 5 | static_cast<std::uint32_t>(second / 2);
}

EntrySpec StoredEntry(const std::string& name, const Bytes& content, bool oldLayout) {
  EntrySpec e;
  e.name = name;
  e.packed = content;
  e.unpSize = static_cast<std::uint32_t>(content.size());
  e.fileCrc = oldLayout ? OldChecksumOf(content) : Crc32Of(content);
  e.unpVer = oldLayout ? 2 : 20;
  e.method = oldLayout ? 0 : 0x30;
  e.time = DosTime(1998, 6, 15, 12, 30, 44);
  return e;
}

NewArchiveWriter& NewArchiveWriter::Main(std::uint16_t flags, const Bytes& extra, bool breakCrc) {
  Append(bytes_, {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00});
  Bytes h;
  Put16(h, 0);
  h.push_back(0x73);
  Put16(h, flags);
  Put16(h, static_cast<std::uint32_t>(13 + extra.size()));
  Put16(h, 0);
  Put32(h, 0);
  Append(h, extra);
  SealHeader(h, breakCrc);
  Append(bytes_, h);
  return *this;
}

NewArchiveWriter& NewArchiveWriter::File(const EntrySpec& e) {
  Bytes h;
  Put16(h, 0);
  h.push_back(0x74);
  Put16(h, e.flags | 0x8000u);
  const std::size_t realSize = 32 + e.name.size() + e.extra.size();
  Put16(h, e.headSize >= 0 ? static_cast<std::uint32_t>(e.headSize) : static_cast<std::uint32_t>(realSize));
  Put32(h, e.packSize >= 0 ? static_cast<std::uint32_t>(e.packSize) : static_cast<std::uint32_t>(e.packed.size()));
  Put32(h, e.unpSize);
  h.push_back(e.hostOS);
  Put32(h, e.fileCrc);
  Put32(h, e.time);
  h.push_back(e.unpVer);
  h.push_back(e.method);
  Put16(h, e.nameSize >= 0 ? static_cast<std::uint32_t>(e.nameSize) : static_cast<std::uint32_t>(e.name.size()));
  Put32(h, e.attr);
  Append(h, BytesOf(e.name));
  Append(h, e.extra);
  SealHeader(h, e.breakCrc);
  Append(bytes_, h);
  Append(bytes_, e.packed);
  return *this;
}

NewArchiveWriter& NewArchiveWriter::Block(std::uint8_t type, std::uint16_t flags, const Bytes& body, const Bytes& data) {
  Bytes h;
  Put16(h, 0);
  h.push_back(type);
  Put16(h, flags);
  const bool longBlock = (flags & 0x8000) != 0;
  Put16(h, static_cast<std::uint32_t>(7 + (longBlock ? 4 : 0) + body.size()));
  if (longBlock) Put32(h, static_cast<std::uint32_t>(data.size()));
  Append(h, body);
  SealHeader(h, false);
  Append(bytes_, h);
  Append(bytes_, data);
  return *this;
}

NewArchiveWriter& NewArchiveWriter::Raw(const Bytes& bytes) {
  Append(bytes_, bytes);
  return *this;
}

OldArchiveWriter& OldArchiveWriter::Main(std::uint8_t flags, const Bytes& extra) {
  Append(bytes_, {0x52, 0x45, 0x7E, 0x5E});
  Put16(bytes_, static_cast<std::uint32_t>(7 + extra.size()));
  bytes_.push_back(flags);
  Append(bytes_, extra);
  return *this;
}

OldArchiveWriter& OldArchiveWriter::File(const EntrySpec& e) {
  const std::size_t realSize = 21 + e.name.size() + e.extra.size();
  Put32(bytes_, e.packSize >= 0 ? static_cast<std::uint32_t>(e.packSize) : static_cast<std::uint32_t>(e.packed.size()));
  Put32(bytes_, e.unpSize);
  Put16(bytes_, e.fileCrc & 0xFFFF);
  Put16(bytes_, e.headSize >= 0 ? static_cast<std::uint32_t>(e.headSize) : static_cast<std::uint32_t>(realSize));
  Put32(bytes_, e.time);
  bytes_.push_back(static_cast<std::uint8_t>(e.attr));
  bytes_.push_back(static_cast<std::uint8_t>(e.flags));
  bytes_.push_back(e.unpVer);
  bytes_.push_back(static_cast<std::uint8_t>(e.nameSize >= 0 ? e.nameSize : static_cast<int>(e.name.size())));
  bytes_.push_back(e.method);
  Append(bytes_, BytesOf(e.name));
  Append(bytes_, e.extra);
  Append(bytes_, e.packed);
  return *this;
}

OldArchiveWriter& OldArchiveWriter::Raw(const Bytes& bytes) {
  Append(bytes_, bytes);
  return *this;
}

std::vector<Bytes> StoredVolumeSet(const std::vector<SplitEntry>& entries, std::uint16_t mainFlags) {
  std::vector<Bytes> volumes;
  NewArchiveWriter current;
  current.Main(mainFlags);
  for (const SplitEntry& entry : entries) {
    std::vector<std::size_t> bounds{0};
    for (std::size_t c : entry.cuts) bounds.push_back(c);
    bounds.push_back(entry.content.size());
    const std::size_t parts = bounds.size() - 1;
    for (std::size_t p = 0; p < parts; ++p) {
      EntrySpec e = StoredEntry(entry.name, entry.content);
      e.packed.assign(entry.content.begin() + static_cast<std::ptrdiff_t>(bounds[p]),
                      entry.content.begin() + static_cast<std::ptrdiff_t>(bounds[p + 1]));
      e.flags = static_cast<std::uint16_t>((p > 0 ? 0x01 : 0) | (p + 1 < parts ? 0x02 : 0));
      // Earlier parts carry a placeholder; only the last part's CRC is checked.
      if (p + 1 < parts) e.fileCrc = 0xFFFFFFFFu;
      current.File(e);
      if (p + 1 < parts) {
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
