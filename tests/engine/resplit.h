// Re-splits a real single-volume archive into a volume set at chosen packed-data positions:
// the main header gets the volume flag, each cut entry becomes parts with flags 0x01/0x02 and
// their own packed sizes, header CRCs are rewritten, and the packed bytes stay untouched.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/engine/archive_writer.h"

namespace korvane::testing {

struct ParsedEntry {
  Bytes header;  // the whole header as stored (HeadSize bytes)
  Bytes data;    // its packed data
};

struct ParsedArchive {
  bool oldLayout = false;
  Bytes prefix;  // signature and main header (whole HeadSize)
  std::vector<ParsedEntry> entries;  // file headers only; other blocks are dropped
  std::uint64_t PackedTotal() const;
  // Where entry i's packed data starts in the stream of all packed data.
  std::uint64_t PackedStart(std::size_t i) const;
};

std::optional<ParsedArchive> ParseArchive(const Bytes& bytes);

// cuts: ascending positions in the stream of all packed data. A cut inside an entry's data
// splits it there; a cut at the very end of an entry's data makes that entry continue into an
// empty part at the start of the next volume (a move at a block boundary).
std::vector<Bytes> Resplit(const ParsedArchive& archive, const std::vector<std::uint64_t>& cuts);

// name.rar, name.r00, name.r01, ..., name.r99, name.s00, ...
std::string VolumeFileName(const std::string& stem, std::size_t index);

}  // namespace korvane::testing
