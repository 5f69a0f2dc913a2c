// The packer's output read back by our own unpacker: families of data at every level, entry
// by entry and solid, must come back byte for byte; what does not shrink must be stored.
#include "tests/pack/round_trip.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace korvane::testing {
namespace {

Bytes Random(std::size_t n, std::uint32_t seed) {
  std::mt19937 r(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(r() >> 24);
  return b;
}

// Words from a small vocabulary: many matches of every length and distance.
Bytes Prose(std::size_t n, std::uint32_t seed) {
  static const char* kWords[] = {"the", "crew", "disk", "volume", "tracker", "sample", "pattern", "loop",
                                 "raster", "copper", "bar", "scroll", "logo", "palette", "mixer", "channel",
                                 "period", "finetune", "vibrato", "board", "modem", "night", "code", "party"};
  std::mt19937 r(seed);
  Bytes b;
  while (b.size() < n) {
    const std::string w = kWords[r() % 24];
    b.insert(b.end(), w.begin(), w.end());
    b.push_back(r() % 11 == 0 ? '\n' : ' ');
  }
  b.resize(n);
  return b;
}

// Interleaved little-endian samples of a few sines, as a PCM file holds them.
Bytes Pcm(std::size_t frames, int channels, int bytesPerSample) {
  Bytes b;
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const double v = std::sin(i * (0.013 + 0.007 * c)) * 0.6 + std::sin(i * 0.0021) * 0.3;
      if (bytesPerSample == 1) {
        b.push_back(static_cast<std::uint8_t>(128 + static_cast<int>(v * 120)));
      } else {
        const auto s = static_cast<std::int16_t>(v * 30000);
        b.push_back(static_cast<std::uint8_t>(s & 0xFF));
        b.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
      }
    }
  }
  return b;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

struct Family {
  const char* name;
  std::vector<Bytes> (*make)();
};

const Family kFamilies[] = {
    {"empty and one byte", [] { return std::vector<Bytes>{{}, {'x'}, {}, {0}}; }},
    {"short texts", [] { return std::vector<Bytes>{Prose(10, 1), Prose(100, 2), Prose(3000, 3)}; }},
    {"random", [] { return std::vector<Bytes>{Random(70000, 4)}; }},
    {"text around random", [] { return std::vector<Bytes>{Prose(20000, 5), Random(5000, 6), Prose(20000, 5)}; }},
    {"long runs", [] {
       return std::vector<Bytes>{Concat({Bytes(300000, 0), Bytes(1000, 7), Bytes(70000, 0xFF)}),
                                 Concat({Bytes(5, 1), Bytes(3, 2), Bytes(261, 3), Bytes(262, 4)})};
     }},
    // A copy of bytes 1 MiB back (the farthest distance) and just inside it.
    {"far matches", [] {
       const Bytes r = Random(0x100000, 7);
       const Bytes near(r.begin(), r.begin() + 30000);
       return std::vector<Bytes>{Concat({r, near}), Concat({Random(0x100000 - 5000, 8), Prose(10000, 9), Prose(10000, 9)})};
     }},
    // More than the window: the decoder's window wraps, matches reach across the wrap.
    {"window wrap", [] { return std::vector<Bytes>{Prose(0x280000, 10)}; }},
    {"pcm", [] { return std::vector<Bytes>{Pcm(40000, 1, 1), Pcm(30000, 1, 2), Pcm(20000, 2, 2), Pcm(9000, 3, 1)}; }},
};

class PackRoundTrip : public ::testing::TestWithParam<std::tuple<int, int, bool>> {};

TEST_P(PackRoundTrip, UnpacksToTheSameBytes) {
  const auto [family, level, solid] = GetParam();
  const std::vector<Bytes> entries = kFamilies[family].make();
  SCOPED_TRACE(kFamilies[family].name);
  pack::EncoderSettings settings;
  settings.level = level;
  const std::vector<PackedEntry> packed = PackEntries(entries, settings, solid, 100000);
  const std::vector<Bytes> unpacked = UnpackEntries(packed, entries);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(unpacked[i], entries[i]) << "entry " << i;
    EXPECT_TRUE(packed[i].stored || packed[i].packed.size() < entries[i].size()) << "entry " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Families, PackRoundTrip,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kFamilies))),
                                            ::testing::Range(1, 6), ::testing::Bool()));

}  // namespace
}  // namespace korvane::testing
