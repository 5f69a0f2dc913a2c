#include "tests/unpack/corpus_decode.h"

#include <memory>

#include "tests/unpack/memory_io.h"
#include "unpack/unpack.h"

namespace korvane::testing {

std::vector<DecodedEntry> DecodeCorpusArchive(const std::string& path, bool followVolumes) {
  std::vector<DecodedEntry> results;
  const RawArchive archive = ReadRawArchive(path, followVolumes);
  if (!archive.Valid) return results;
  auto state = std::make_unique<UnpackState>();
  std::vector<std::uint8_t> window(kWindowSize);
  int entriesSinceOpen = 0;
  for (const RawEntry& e : archive.Entries) {
    DecodedEntry r;
    r.Name = e.Name;
    r.Encrypted = e.Encrypted();
    r.Expected = e.FileCrc;
    if (e.Directory() || e.UnpVer < 13 || e.UnpVer > 20) {
      results.push_back(r);
      continue;
    }
    ++entriesSinceOpen;
    std::vector<std::uint8_t> output;
    if (e.Stored()) {
      output.assign(e.Packed.begin(), e.Packed.begin() + std::min<std::size_t>(e.Packed.size(), e.UnpSize));
    } else {
      MemoryUnpackIo io(e.Packed, static_cast<std::int32_t>(e.UnpSize));
      if (e.UnpVer > 15) {
        r.Format = 20;
        UnpackFormat20(*state, io, window.data(), e.SolidFlag());
      } else {
        r.Format = 15;
        UnpackFormat15(*state, io, window.data(), archive.Solid && entriesSinceOpen > 1);
      }
      output = std::move(io.output);
    }
    r.OutputSize = output.size();
    r.Actual = EntryChecksum(archive, output);
    r.Checked = true;
    r.Matches = r.Actual == r.Expected;
    results.push_back(r);
  }
  return results;
}

}  // namespace korvane::testing
