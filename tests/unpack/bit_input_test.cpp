// Refill at the end of the input, the match copy with overlap and wrap-around, and the flush
// rule with its wrapped two-write case. Plain field reading is proven by the corpus.
#include <gtest/gtest.h>

#include <random>

#include "tests/unpack/memory_io.h"
#include "unpack/bit_input.h"

namespace korvane::testing {
namespace {

// Guard bytes: an empty refill keeps only the kept bytes that were real data.
TEST(BitInput, EmptyRefillKeepsOnlyTheValidKeptBytesAndCountsAsExhaustedTheSecondTime) {
  std::vector<std::uint8_t> packed(8180, 0xAB);
  UnpackFixture f;
  MemoryUnpackIo io(packed);
  RefillPackedBuffer(f.s(), io, true);
  EXPECT_EQ(f.s().PackedFill, 8180);
  f.s().PackedPos = 8165;
  RefillPackedBuffer(f.s(), io, false);
  EXPECT_EQ(f.s().PackedFill, 20);  // bytes 8160..8179 were real and are still there
  EXPECT_FALSE(PackedInputExhausted(f.s()));
  f.s().PackedPos = 8165;
  RefillPackedBuffer(f.s(), io, false);
  EXPECT_EQ(f.s().PackedFill, 0);
  EXPECT_TRUE(PackedInputExhausted(f.s()));
  MemoryUnpackIo next(packed);  // a new entry starts counting afresh
  RefillPackedBuffer(f.s(), next, true);
  EXPECT_FALSE(PackedInputExhausted(f.s()));
}

// Whatever shortcut the copy takes, the window must end up as the byte-by-byte forward
// copy through the masked indices leaves it (distance 1 repeats the last byte).
TEST(Window, CopyMatchesTheByteWiseForwardCopy) {
  struct Case {
    std::uint32_t Dst, Distance, Length;
  };
  const Case cases[] = {{5000, 300, 200}, {5000, 1, 5}, {5000, 3, 250}, {5000, 0, 20}, {5000, kWindowSize, 20},
                        {10, 40, 100}, {kWindowSize - 7, 500, 60}, {kWindowSize - 3, 5, 30},
                        {100, kWindowSize - 10, 50}, {100, kWindowSize - 400, 260},
                        // around the eight-byte groups: distance and length 7, 8, 9 and a
                        // length that is not a multiple of eight
                        {5000, 8, 8}, {5000, 8, 23}, {5000, 9, 64}, {5000, 7, 30},
                        {5000, 16, 7}, {5000, 100, 2}, {kWindowSize - 20, 8, 20}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.Dst << " " << c.Distance << " " << c.Length);
    UnpackFixture f;
    f.s().Window = f.Window.data();
    std::mt19937 rng(11);
    for (std::uint8_t& b : f.Window) b = static_cast<std::uint8_t>(rng());
    std::vector<std::uint8_t> expected = f.Window;
    for (std::uint32_t i = 0, pos = c.Dst; i < c.Length; ++i, pos = (pos + 1) & WindowMask)
      expected[pos] = expected[(pos - c.Distance) & WindowMask];
    f.s().WindowPos = c.Dst;
    MemoryUnpackIo io({}, 1000);
    CopyFromWindow(f.s(), io, c.Distance, c.Length);
    EXPECT_EQ(f.s().WindowPos, (c.Dst + c.Length) & WindowMask);
    EXPECT_EQ(io.RemainingOutput, 1000 - static_cast<std::int32_t>(c.Length));
    EXPECT_TRUE(f.Window == expected);
  }
}

TEST(Window, FlushAfterWrapIsTwoWritesAndAnAbortBetweenThemKeepsFlushedPos) {
  for (std::size_t abortAfter : {0u, 1u}) {
    UnpackFixture f;
    f.s().Window = f.Window.data();
    for (std::uint32_t i = 0; i < kWindowSize; ++i) f.Window[i] = static_cast<std::uint8_t>(i * 7);
    f.s().FlushedPos = kWindowSize - 10;
    f.s().WindowPos = 5;
    MemoryUnpackIo io({});
    io.AbortAfterWrites = abortAfter;
    FlushWindow(f.s(), io);
    std::vector<std::uint8_t> expected(f.Window.end() - 10, f.Window.end());
    if (abortAfter == 1) {
      EXPECT_EQ(io.WriteSizes, (std::vector<std::uint32_t>{10}));
      EXPECT_EQ(f.s().FlushedPos, kWindowSize - 10);
    } else {
      expected.insert(expected.end(), f.Window.begin(), f.Window.begin() + 5);
      EXPECT_EQ(io.WriteSizes, (std::vector<std::uint32_t>{10, 5}));
      EXPECT_EQ(f.s().FlushedPos, 5u);
    }
    EXPECT_EQ(io.Output, expected);
  }
}

TEST(Window, EntryEndingAtTheWindowEndLeavesTwoEmptyWritesForTheNext) {
  UnpackFixture f;
  f.s().Window = f.Window.data();
  f.s().FlushedPos = kWindowSize;
  f.s().WindowPos = kWindowSize & WindowMask;
  EXPECT_TRUE(WindowNearlyFull(f.s()));
  MemoryUnpackIo io({});
  FlushWindow(f.s(), io);
  EXPECT_EQ(io.WriteSizes, (std::vector<std::uint32_t>{0, 0}));
  EXPECT_EQ(f.s().FlushedPos, 0u);
}

TEST(Window, NearlyFullWhenFewerThan270BytesStayFree) {
  UnpackFixture f;
  f.s().FlushedPos = 1000;
  for (const auto& [pos, full] : {std::pair{1000u, false}, std::pair{730u, false}, std::pair{731u, true}, std::pair{1001u, false}}) {
    f.s().WindowPos = pos;
    EXPECT_EQ(WindowNearlyFull(f.s()), full) << pos;
  }
}

}  // namespace
}  // namespace korvane::testing
