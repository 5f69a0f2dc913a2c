#include "tests/support/round_trip.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "pack/store_decision.h"
#include "tests/support/memory_io.h"
#include "unpack/unpack.h"

namespace korvane::testing {

std::vector<PackedEntry> PackEntries(const std::vector<Bytes>& entries, const pack::EncoderSettings& settings,
                                     bool solid, std::size_t piece) {
  pack::Format20Encoder encoder(settings);
  std::vector<PackedEntry> result;
  for (const Bytes& data : entries) {
    PackedEntry e;
    e.solid = solid && encoder.StreamStarted();
    if (!pack::WorthPacking(data.size())) {
      e.stored = true;
      result.push_back(std::move(e));
      continue;
    }
    encoder.StartEntry(e.solid);
    const std::size_t step = piece == 0 ? data.size() : piece;
    for (std::size_t at = 0; at < data.size(); at += step)
      encoder.Write(data.data() + at, std::min(step, data.size() - at));
    encoder.FinishEntry();
    e.packed = std::move(encoder.Output());
    if (pack::StoreInstead(encoder, data.size(), e.packed.size())) {
      e.packed = data;
      e.stored = true;
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
    UnpackFormat20(fixture.s(), io, fixture.Window.data(), packed[i].solid);
    out.push_back(std::move(io.Output));
  }
  return out;
}

Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 r(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(r() >> 24);
  return b;
}

Bytes WordText(std::size_t n, std::uint32_t seed) {
  static const char* kWords[] = {"volume", "entry",  "window",  "table",  "match",   "solid", "header", "block",
                                 "packed", "stream", "tracker", "sample", "pattern", "the",   "of",     "with"};
  std::mt19937 r(seed);
  Bytes b;
  while (b.size() < n) {
    const std::string w = kWords[r() % 16];
    b.insert(b.end(), w.begin(), w.end());
    b.push_back(r() % 9 == 0 ? '\n' : ' ');
  }
  b.resize(n);
  return b;
}

Bytes PcmSines(std::size_t frames, int channels, int bytesPerSample) {
  Bytes b;
  for (std::size_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      const double t = static_cast<double>(i);
      const double v = std::sin(t * (0.011 + 0.006 * c)) * 0.7 + std::sin(t * 0.0017) * 0.2;
      const int s = static_cast<int>(v * (bytesPerSample == 1 ? 120 : 30000));
      b.push_back(static_cast<std::uint8_t>(bytesPerSample == 1 ? 128 + s : s));  // 16 bits: low byte first
      if (bytesPerSample == 2) b.push_back(static_cast<std::uint8_t>(s >> 8));
    }
  return b;
}

}  // namespace korvane::testing
