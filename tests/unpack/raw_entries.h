// Test support: cuts the entries of an archive (both header layouts, optionally a whole
// volume set) into packed bytes plus the facts an unpacker test needs, without the engine.
// Only what the tests need: no names are sanitised, nothing is decrypted or extracted.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::testing {

struct RawEntry {
  std::string Name;
  std::uint16_t Flags = 0;     // file header flags (old layout: the old byte)
  std::uint8_t UnpVer = 0;     // new layout as stored; old layout converted (2 -> 13, else 10)
  std::uint8_t Method = 0;     // 0x30 stored, above compressed (old layout: old method + 0x30)
  std::uint32_t UnpSize = 0;
  std::uint32_t FileCrc = 0;   // CRC-32, or the 16-bit sum in the old layout
  std::uint32_t FileAttr = 0;
  std::vector<std::uint8_t> Packed;  // all parts joined when the entry spans volumes

  bool Encrypted() const { return (Flags & 0x04) != 0; }
  bool SolidFlag() const { return (Flags & 0x10) != 0; }
  bool Directory() const;
  bool Stored() const { return Method == 0x30; }
};

struct RawArchive {
  bool Valid = false;
  bool OldLayout = false;
  bool Solid = false;     // main header flag 0x08
  int Volumes = 0;
  std::vector<RawEntry> Entries;
};

// Reads one archive file; with followVolumes, also name.r00, name.r01, ... while the last
// entry continues. The signature may sit behind a leading program (self-extracting archive).
RawArchive ReadRawArchive(const std::string& path, bool followVolumes = false);

// The checksum the entry's header stores for its unpacked bytes: complemented CRC-32 in the
// new layout, the 16-bit rotating sum in the old one.
std::uint32_t EntryChecksum(const RawArchive& archive, const std::vector<std::uint8_t>& data);

}  // namespace korvane::testing
