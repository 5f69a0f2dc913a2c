// Writes archive bytes for tests: main and file headers of both layouts with correct (or
// deliberately wrong) checksums, arbitrary blocks, and stored entries split over volumes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::testing {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Crc32Of(const Bytes& data);        // complemented CRC-32, as stored in FileCRC
std::uint16_t OldChecksumOf(const Bytes& data);  // the 16-bit sum of old archives
Bytes BytesOf(const std::string& text);
std::uint32_t DosTime(int year, int month, int day, int hour, int minute, int second);

// One entry as it goes into a file header; the writer fills nothing in by itself except the
// header CRC (and HeadSize unless headSize is set).
struct EntrySpec {
  std::string name;
  Bytes packed;              // the packed data of this part, written behind the header
  std::uint32_t unpSize = 0;
  std::uint32_t fileCrc = 0;
  std::uint16_t flags = 0;   // 0x8000 is added by the new-layout writer
  std::uint8_t unpVer = 20;  // new layout: 13..20; old layout: the old number (2)
  std::uint8_t method = 0x30;  // new layout '0'..'5'; old layout 0..7
  std::uint8_t hostOS = 0;
  std::uint32_t attr = 0x20;
  std::uint32_t time = 0;
  Bytes extra;               // header bytes behind the name (counted in HeadSize)
  int headSize = -1;         // >= 0: store this HeadSize instead of the real one
  int nameSize = -1;         // >= 0: store this NameSize instead of the name's length
  std::int64_t packSize = -1;  // >= 0: store this PackSize instead of packed.size()
  bool breakCrc = false;     // store a header CRC that does not match
};

// A stored entry: packed = content, sizes and checksum filled in for the given layout.
EntrySpec StoredEntry(const std::string& name, const Bytes& content, bool oldLayout = false);

class NewArchiveWriter {
 public:
  // Signature and main header (flags: 0x01 volume, 0x08 solid); extra goes behind the
  // fixed 13 bytes and is counted in HeadSize.
  NewArchiveWriter& Main(std::uint16_t flags = 0, const Bytes& extra = {}, bool breakCrc = false);
  NewArchiveWriter& File(const EntrySpec& entry);
  // Any block: 7 common bytes, optional 4-byte data size (with flag 0x8000), body, then data.
  NewArchiveWriter& Block(std::uint8_t type, std::uint16_t flags, const Bytes& body, const Bytes& data = {});
  NewArchiveWriter& Raw(const Bytes& bytes);
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

class OldArchiveWriter {
 public:
  OldArchiveWriter& Main(std::uint8_t flags = 0, const Bytes& extra = {});
  OldArchiveWriter& File(const EntrySpec& entry);
  OldArchiveWriter& Raw(const Bytes& bytes);
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// A new-layout volume set holding stored entries; an entry's data is cut at the given offsets
// into its content (cuts[i] in entry i's coordinates), each piece in a volume of its own.
// Every volume has the volume flag; parts carry 0x01/0x02, the last part the real CRC.
struct SplitEntry {
  std::string name;
  Bytes content;
  std::vector<std::size_t> cuts;  // ascending, inside (0, content.size()]
};
std::vector<Bytes> StoredVolumeSet(const std::vector<SplitEntry>& entries, std::uint16_t mainFlags = 0x01);

}  // namespace korvane::testing
