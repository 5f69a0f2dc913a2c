#include "tests/pack/round_trip.h"

#include <algorithm>

#include "tests/unpack/memory_io.h"
#include "tests/unpack/unpack_fixture.h"
#include "unpack/unpack.h"

namespace korvane::testing {

std::vector<PackedEntry> PackEntries(const std::vector<Bytes>& entries, const pack::EncoderSettings& settings,
                                     bool solid, std::size_t piece) {
  pack::Format20Encoder encoder(settings);
  std::vector<PackedEntry> result;
  for (const Bytes& data : entries) {
    PackedEntry e;
    e.solid = solid && encoder.StreamStarted();
    encoder.StartEntry(e.solid);
    const std::size_t step = piece == 0 ? std::max<std::size_t>(data.size(), 1) : piece;
    for (std::size_t at = 0; at < data.size(); at += step)
      encoder.Write(data.data() + at, std::min(step, data.size() - at));
    encoder.FinishEntry();
    e.packed = std::move(encoder.Output());
    if (data.empty() || e.packed.size() >= data.size()) {
      if (encoder.DiscardEntry()) {
        e.packed = data;
        e.stored = true;
        e.solid = false;
      }
    }
    result.push_back(std::move(e));
  }
  return result;
}

std::vector<Bytes> UnpackEntries(const std::vector<PackedEntry>& packed, const std::vector<Bytes>& originals) {
  UnpackFixture fixture;
  std::vector<Bytes> out;
  for (std::size_t i = 0; i < packed.size(); ++i) {
    if (packed[i].stored) {
      out.push_back(packed[i].packed);
      continue;
    }
    MemoryUnpackIo io(packed[i].packed, static_cast<std::int32_t>(originals[i].size()));
    UnpackFormat20(fixture.s(), io, fixture.window.data(), packed[i].solid);
    out.push_back(std::move(io.output));
  }
  return out;
}

}  // namespace korvane::testing
