// Archive bytes for tests: headers of both layouts with right (or deliberately wrong) fields
// and checksums, and stored entries split over volumes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::testing {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Crc32Of(const Bytes& data);        // complemented CRC-32, as stored in FileCRC
Bytes BytesOf(const std::string& text);

// One file header; only the header CRC (and sizes not overridden) are filled in by the writer.
struct EntrySpec {
  std::string name;
  Bytes packed;  // written behind the header
  std::uint32_t unpSize = 0;
  std::uint32_t fileCrc = 0;
  std::uint16_t flags = 0;     // 0x8000 is added by the new-layout writer
  std::uint8_t unpVer = 20;    // new layout 13..20; old layout the old number (2)
  std::uint8_t method = 0x30;  // new layout '0'..'5'; old layout 0..7
  std::uint8_t hostOS = 0;
  std::uint32_t attr = 0x20;
  std::uint32_t time = 0;
  int headSize = -1;           // >= 0: stored instead of the real HeadSize
  int nameSize = -1;           // >= 0: stored instead of the name's length
  std::int64_t packSize = -1;  // >= 0: stored instead of packed.size()
};

// A stored entry: packed = content, sizes and checksum filled in for the layout.
EntrySpec StoredEntry(const std::string& name, const Bytes& content, bool oldLayout = false);

class NewArchiveWriter {
 public:
  // Signature and main header (flags: 0x01 volume, 0x08 solid).
  NewArchiveWriter& Main(std::uint16_t flags = 0, bool breakCrc = false);
  NewArchiveWriter& File(const EntrySpec& entry);
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

class OldArchiveWriter {
 public:
  OldArchiveWriter& Main(std::uint8_t flags = 0);
  OldArchiveWriter& File(const EntrySpec& entry);
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// A new-layout volume set of stored entries; entry i's data is cut at cuts (offsets into its
// content), each piece in a volume of its own. Parts carry 0x01/0x02, the last part the real CRC.
struct SplitEntry {
  std::string name;
  Bytes content;
  std::vector<std::size_t> cuts;  // ascending, inside (0, content.size()]
};
std::vector<Bytes> StoredVolumeSet(const std::vector<SplitEntry>& entries, std::uint16_t mainFlags = 0x01);

}  // namespace korvane::testing
