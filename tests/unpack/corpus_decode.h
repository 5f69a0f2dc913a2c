// Test support: decodes every entry of a real archive the way the driver does (same state
// record across entries, the driver's solid rules) and reports how each entry compared
// with the checksum its header stores.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tests/unpack/raw_entries.h"

namespace korvane::testing {

struct DecodedEntry {
  std::string Name;
  int Format = 0;            // 15 or 20; 0 when not decoded (stored, directory, unknown version)
  bool Checked = false;      // a checksum comparison was made
  bool Matches = false;
  std::uint32_t Expected = 0;
  std::uint32_t Actual = 0;
  bool Encrypted = false;
  std::size_t OutputSize = 0;
};

// Decodes the entries in order; followVolumes joins name.r00, name.r01, ... as one set.
std::vector<DecodedEntry> DecodeCorpusArchive(const std::string& path, bool followVolumes);

}  // namespace korvane::testing
