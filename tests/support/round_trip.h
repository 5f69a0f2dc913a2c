// Test support: entries packed by the format 2.0 packer the way the archive writer does it
// (stored when empty or when packing does not make them smaller, by pack/store_decision.h;
// solid entries continuing the stream), and
// unpacked again by the format 2.0 unpacker the way the extraction driver does it.
#pragma once
#include <cstdint>
#include <vector>

#include "pack/encoder.h"

namespace korvane::testing {

using Bytes = std::vector<std::uint8_t>;

struct PackedEntry {
  Bytes packed;  // the stored bytes themselves when stored
  bool stored = false;
  bool solid = false;  // the entry's solid flag, which a stored entry keeps as the writer does
};

// solid: one stream through all entries; otherwise each entry starts its own. A Write call
// per piece of `piece` bytes (0: the whole entry at once).
std::vector<PackedEntry> PackEntries(const std::vector<Bytes>& entries, const pack::EncoderSettings& settings,
                                     bool solid, std::size_t piece = 0);

// The entries' unpacked bytes, decoded in order with one state record and window.
std::vector<Bytes> UnpackEntries(const std::vector<PackedEntry>& packed, const std::vector<Bytes>& originals);

// Data to pack, the same for the same arguments: noise; words from a small vocabulary (many
// matches of every length and distance); little-endian samples of a few sines, channels
// interleaved, as a PCM file holds them.
Bytes RandomBytes(std::size_t n, std::uint32_t seed);
Bytes WordText(std::size_t n, std::uint32_t seed);
Bytes PcmSines(std::size_t frames, int channels, int bytesPerSample);

}  // namespace korvane::testing
