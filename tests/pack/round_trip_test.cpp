// The packer's output read back by our own unpacker: families of data at every level, entry
// by entry and solid, must come back byte for byte; what does not shrink must be stored.
#include "tests/pack/round_trip.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane::testing {
namespace {

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

using Entries = std::vector<Bytes>;
const struct {
  const char* Name;
  Entries (*Make)();
} kFamilies[] = {
    {"short entries", [] { return Entries{{}, {'x'}, {}, {0}, WordText(10, 1), WordText(100, 2), WordText(3000, 3)}; }},
    {"random", [] { return Entries{RandomBytes(70000, 4)}; }},
    {"text around random", [] { return Entries{WordText(20000, 5), RandomBytes(5000, 6), WordText(20000, 5)}; }},
    {"long runs",
     [] {
       return Entries{Concat({Bytes(300000, 0), Bytes(1000, 7), Bytes(70000, 0xFF)}),
                      Concat({Bytes(5, 1), Bytes(3, 2), Bytes(261, 3), Bytes(262, 4)})};
     }},
    // A copy of bytes 1 MiB back (the farthest distance) and just inside it.
    {"far matches",
     [] {
       const Bytes r = RandomBytes(0x100000, 7);
       return Entries{Concat({r, Bytes(r.begin(), r.begin() + 30000)}),
                      Concat({RandomBytes(0x100000 - 5000, 8), WordText(10000, 9), WordText(10000, 9)})};
     }},
    // More than the window: the decoder's window wraps, matches reach across the wrap.
    {"window wrap", [] { return Entries{WordText(0x280000, 10)}; }},
    // 1 to 4 byte lanes; the 4-lane entry ends three bytes into a frame, so a solid stream
    // goes on from its last channel into blocks of fewer channels.
    {"pcm",
     [] {
       return Entries{PcmSines(40000, 1, 1), PcmSines(30000, 1, 2), Concat({PcmSines(20000, 2, 2), {1, 2, 3}}),
                      PcmSines(9000, 3, 1)};
     }},
};

class PackRoundTrip : public ::testing::TestWithParam<std::tuple<int, int, bool>> {};

TEST_P(PackRoundTrip, UnpacksToTheSameBytes) {
  const auto [family, level, solid] = GetParam();
  const Entries entries = kFamilies[family].Make();
  SCOPED_TRACE(kFamilies[family].Name);
  pack::EncoderSettings settings;
  settings.Level = level;
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
