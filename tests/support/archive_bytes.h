// Archive bytes for every suite, from the layout alone and independent of the engine: a writer
// of both layouts (headers with right or deliberately wrong fields, stored entries, volume
// sets) and a reader that cuts an archive, or a whole volume set, into entries and packed data.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::testing {

using Bytes = std::vector<std::uint8_t>;

Bytes BytesOf(const std::string& text);
std::uint32_t Crc32Of(const Bytes& data);  // complemented CRC-32, as stored in FileCRC

// One file header; the writer fills in the header CRC and every size not forced.
struct EntrySpec {
  std::string Name;
  Bytes Packed;  // written behind the header
  std::uint32_t UnpSize = 0, FileCrc = 0;
  std::uint16_t Flags = 0;     // 0x8000 is added by the new-layout writer
  std::uint8_t UnpVer = 20;    // new layout 13..20; old layout the old number (2)
  std::uint8_t Method = 0x30;  // new layout '0'..'5'; old layout 0..7
  std::uint8_t HostOS = 0;
  std::uint32_t Attr = 0x20, Time = 0;
  int HeadSize = -1;           // >= 0: stored instead of the real HeadSize
  int NameSize = -1;           // >= 0: stored instead of the name's length
  std::int64_t PackSize = -1;  // >= 0: stored instead of Packed.size()
};

// A stored entry: Packed = content, sizes and checksum filled in for the layout.
EntrySpec StoredEntry(const std::string& name, const Bytes& content, bool oldLayout = false);

class ArchiveWriter {
 public:
  explicit ArchiveWriter(bool oldLayout = false) : OldLayout(oldLayout) {}
  ArchiveWriter& Main(std::uint16_t flags = 0);  // signature and main header (0x01 volume, 0x08 solid)
  ArchiveWriter& File(const EntrySpec& entry);
  const Bytes& Data() const { return Out; }

 private:
  bool OldLayout;
  Bytes Out;
};

// A new-layout volume set of stored entries; each entry's content is cut at Cuts (ascending
// offsets inside (0, size]), each piece in a volume of its own. Parts carry the flags 0x01 and
// 0x02; the last part carries the entry's CRC, earlier ones a placeholder.
struct SplitEntry {
  std::string Name;
  Bytes Content;
  std::vector<std::size_t> Cuts;
};
std::vector<Bytes> StoredVolumeSet(const std::vector<SplitEntry>& entries, std::uint16_t mainFlags = 0x01);

// An entry as the reader found it; for a set, one per entry with its parts joined.
struct RawEntry {
  Bytes Header;  // the first part's header as stored, name included
  Bytes Packed;  // the packed data of all parts
  std::string Name;
  std::uint16_t Flags = 0;   // as stored (old layout: the old flag byte); a set's last part's 0x02
  std::uint8_t UnpVer = 0;   // new layout as stored; old layout converted (2 -> 13, else 10)
  std::uint8_t Method = 0;   // 0x30 stored (old layout: old method + 0x30)
  std::uint8_t HostOS = 0;
  std::uint32_t UnpSize = 0, FileCrc = 0, FileAttr = 0, FileTime = 0;
  bool HeaderCrcOk = true;   // the new layout's HeadCRC matches (every part's)

  bool Encrypted() const { return (Flags & 0x04) != 0; }
  bool SolidFlag() const { return (Flags & 0x10) != 0; }
  bool Directory() const { return (Flags & 0xE0) == 0xE0 || (HostOS < 3 && (FileAttr & 0x10) != 0); }
};

struct RawArchive {
  bool Valid = false, OldLayout = false;
  bool Solid = false, VolumeFlag = false;  // main header flags 0x08 and 0x01 (of the first volume)
  bool MainCrcOk = true;
  int Volumes = 0;
  Bytes Prefix;  // signature and whole main header, without a leading program
  std::vector<RawEntry> Entries;  // file headers only; other blocks are passed over

  // Where entry i's packed data starts in the stream of all packed data.
  std::uint64_t PackedStart(std::size_t i) const {
    std::uint64_t sum = 0;
    for (std::size_t k = 0; k < i && k < Entries.size(); ++k) sum += Entries[k].Packed.size();
    return sum;
  }
  std::uint64_t PackedTotal() const { return PackedStart(Entries.size()); }
};

// One volume; the signature may sit behind a leading program. A damaged chain ends the list.
RawArchive ParseArchive(const Bytes& bytes);
// A file, and with followVolumes name.r00, name.r01, ... while its last entry continues;
// continued parts join the entry before them.
RawArchive ReadArchiveSet(const std::string& path, bool followVolumes = true);

// Re-splits a single-volume archive at offsets into all its packed data: a cut at the very end of
// an entry's data makes it continue into an empty part. Header CRCs are rewritten, data kept.
std::vector<Bytes> Resplit(const RawArchive& archive, const std::vector<std::uint64_t>& cuts);

// name.rar, name.r00, ..., name.r99, name.s00, ...
std::string VolumeFileName(const std::string& stem, std::size_t index);

}  // namespace korvane::testing
