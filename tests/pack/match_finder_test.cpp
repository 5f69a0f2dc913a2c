// The match finder's rewind, around every boundary of its buffer (1 MiB of window and room for
// two appends): after any amount appended since the mark, the history is the marked one, byte
// for byte and in the keys, and nothing appended since can be matched.
#include "pack/match_finder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "tests/support/round_trip.h"

namespace korvane::testing {
namespace {

constexpr std::uint32_t kMiB = 1 << 20;
constexpr std::uint32_t kAppend = 256 * 1024;  // the encoder's chunk

void AppendInChunks(pack::MatchFinder& finder, const Bytes& data) {
  for (std::size_t at = 0; at < data.size(); at += kAppend)
    finder.Append(data.data() + at, static_cast<std::uint32_t>(std::min<std::size_t>(kAppend, data.size() - at)));
}

// History before the mark, bytes appended after it, hash buckets or chains.
class FinderRewind : public ::testing::TestWithParam<std::tuple<std::uint32_t, std::uint32_t, bool>> {};

TEST_P(FinderRewind, ReturnsToTheMarkedHistory) {
  const auto [history, appended, buckets] = GetParam();
  pack::MatchFinderSettings settings;
  settings.Buckets = buckets;
  settings.NearMatches = !buckets;
  pack::MatchFinder finder(settings);
  AppendInChunks(finder, RandomBytes(1000, 1));
  finder.StartStream();
  const Bytes before = RandomBytes(history, 2);
  AppendInChunks(finder, before);
  const std::uint32_t mark = finder.End();
  finder.Mark();
  const Bytes after = RandomBytes(appended, 3);
  AppendInChunks(finder, after);
  ASSERT_TRUE(finder.Rewind());
  ASSERT_EQ(finder.End(), mark);

  const std::uint32_t kept = std::min(history, pack::MatchFinder::kWindow);
  EXPECT_TRUE(std::equal(before.end() - kept, before.end(), finder.At(mark - kept)));
  // A probe of 32 forgotten bytes, then 32 bytes 1000 before the mark (when there are any).
  Bytes probe(after.begin(), after.begin() + 32);
  const std::uint32_t back = std::min<std::uint32_t>(history, 1000);
  probe.insert(probe.end(), before.end() - back, before.end() - back + std::min<std::uint32_t>(back, 32));
  probe.resize(80, 0x55);
  finder.Append(probe.data(), static_cast<std::uint32_t>(probe.size()));
  std::vector<pack::Match> found(finder.MaxMatches());
  EXPECT_EQ(finder.Find(mark, 32, found.data()), 0u) << "a byte appended after the mark is still matched";
  if (back >= 32) {
    ASSERT_GE(finder.Find(mark + 32, 32, found.data()), 1u);
    EXPECT_EQ(found[0].Length, 32u);
    EXPECT_EQ(found[0].Distance, back + 32);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FinderRewind,
    ::testing::Combine(::testing::Values(0u, 5000u, kMiB + 7),
                       ::testing::Values(kMiB + 1, 2 * kMiB + 1, 3 * kMiB - 5000, 3 * kMiB, 3 * kMiB + 1,
                                         4 * kMiB + 1, 5 * kMiB + 3),
                       ::testing::Bool()));

}  // namespace
}  // namespace korvane::testing
