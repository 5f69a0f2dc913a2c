// The packer's output read back by our own unpacker: families of data at every level, entry
// by entry and solid, must come back byte for byte; what does not shrink must be stored.
#include "tests/support/round_trip.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

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

// Incompressible entries around the boundaries of the match finder's buffer (1 MiB of window
// and two appends of 1 MiB): each is stored, and the stream goes on as if it had never been
// given, so a copy of the entry before it is matched right there when solid.
class StoredEntry : public ::testing::TestWithParam<std::tuple<std::size_t, int, bool>> {};

TEST_P(StoredEntry, LeavesTheStreamAsBefore) {
  const auto [size, level, solid] = GetParam();
  // Four bits of noise a byte: half-packable, and few enough repeats of every key that even
  // the fastest levels' small buckets find the copy.
  Bytes text = RandomBytes(20000, 21);
  for (std::uint8_t& b : text) b &= 0x0F;
  const Entries entries{text, RandomBytes(size, 22), text};
  pack::EncoderSettings settings;
  settings.Level = level;
  const std::vector<PackedEntry> packed = PackEntries(entries, settings, solid, 0);
  EXPECT_TRUE(packed[1].stored);
  EXPECT_EQ(UnpackEntries(packed, entries), entries);
  if (solid) {
    EXPECT_LT(packed[2].packed.size(), text.size() / 20);
  }
}

// The fast levels (hash buckets) at every size; the slow ones (chains) where the crash was,
// the finder's own test covering the chains at every boundary.
constexpr std::size_t kMiB = std::size_t{1} << 20;
INSTANTIATE_TEST_SUITE_P(Buckets, StoredEntry,
                         ::testing::Combine(::testing::Values(3 * kMiB, 3 * kMiB + 1, 4 * kMiB + 1),
                                            ::testing::Range(1, 4), ::testing::Bool()));
INSTANTIATE_TEST_SUITE_P(Chains, StoredEntry,
                         ::testing::Combine(::testing::Values(3 * kMiB + 1), ::testing::Range(4, 6),
                                            ::testing::Bool()));

}  // namespace
}  // namespace korvane::testing
