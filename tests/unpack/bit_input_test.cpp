// Bit input, refill and the window: reading fields MSB first across refills, the match copy
// with overlap and wrap-around, and the flush rule with its wrapped two-write case.
#include <gtest/gtest.h>

#include <random>

#include "tests/unpack/bit_writer.h"
#include "tests/unpack/memory_io.h"
#include "tests/unpack/unpack_fixture.h"
#include "unpack/bit_input.h"

namespace korvane::testing {
namespace {

TEST(BitInput, FieldsReadBackAcrossManyRefills) {
  std::mt19937 rng(7);
  std::vector<std::pair<std::uint32_t, int>> fields;
  BitWriter writer;
  while (writer.BitCount() < 8 * 50000) {
    const int width = 1 + static_cast<int>(rng() % 16);
    const std::uint32_t value = rng() & ((1u << width) - 1);
    fields.emplace_back(value, width);
    writer.Put(value, width);
  }
  const std::vector<std::uint8_t> packed = writer.Bytes(4);
  UnpackFixture f;
  MemoryUnpackIo io(packed);
  RefillPackedBuffer(f.s(), io, true);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (f.s().PackedPos > kMainLoopRefillPos) RefillPackedBuffer(f.s(), io, false);
    ASSERT_EQ(ReadBits(f.s(), fields[i].second), fields[i].first) << "field " << i;
  }
  EXPECT_GE(io.reads, 7u);
}

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
  // A new entry starts counting afresh.
  MemoryUnpackIo next(packed);
  RefillPackedBuffer(f.s(), next, true);
  EXPECT_FALSE(PackedInputExhausted(f.s()));
}

TEST(BitInput, AbortStopsRefillAndFlush) {
  std::vector<std::uint8_t> packed(100, 1);
  UnpackFixture f;
  f.s().Window = f.window.data();
  MemoryUnpackIo io(packed);
  io.SetAbort(2);
  RefillPackedBuffer(f.s(), io, true);
  EXPECT_EQ(io.reads, 0u);
  f.s().WindowPos = 10;
  FlushWindow(f.s(), io);
  EXPECT_TRUE(io.writeSizes.empty());
  EXPECT_EQ(f.s().FlushedPos, 0u);
}

TEST(Window, DistanceOneRepeatsTheLastByte) {
  UnpackFixture f;
  f.s().Window = f.window.data();
  f.window[0] = 0x61;
  f.s().WindowPos = 1;
  MemoryUnpackIo io({}, 100);
  CopyFromWindow(f.s(), io, 1, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(f.window.begin(), f.window.begin() + 7),
            (std::vector<std::uint8_t>{0x61, 0x61, 0x61, 0x61, 0x61, 0x61, 0}));
  EXPECT_EQ(f.s().WindowPos, 6u);
  EXPECT_EQ(io.RemainingOutput, 95);
}

struct CopyCase {
  const char* Name;
  std::uint32_t Dst;
  std::uint32_t Distance;
  std::uint32_t Length;
};

class WindowCopyTest : public ::testing::TestWithParam<CopyCase> {};

// Whatever shortcut the copy takes, the window must end up as the byte-by-byte forward
// copy through the masked indices leaves it.
TEST_P(WindowCopyTest, MatchesTheByteWiseForwardCopy) {
  const CopyCase& c = GetParam();
  UnpackFixture f;
  f.s().Window = f.window.data();
  std::mt19937 rng(11);
  for (std::uint8_t& b : f.window) b = static_cast<std::uint8_t>(rng());
  std::vector<std::uint8_t> expected = f.window;
  std::uint32_t pos = c.Dst;
  for (std::uint32_t i = 0; i < c.Length; ++i, pos = (pos + 1) & WindowMask)
    expected[pos] = expected[(pos - c.Distance) & WindowMask];
  f.s().WindowPos = c.Dst;
  MemoryUnpackIo io({}, 1000);
  CopyFromWindow(f.s(), io, c.Distance, c.Length);
  EXPECT_EQ(f.s().WindowPos, (c.Dst + c.Length) & WindowMask);
  EXPECT_TRUE(f.window == expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowCopyTest,
    ::testing::Values(CopyCase{"Apart", 5000, 300, 200}, CopyCase{"OverlapRepeats", 5000, 3, 250},
                      CopyCase{"DistanceZero", 5000, 0, 20}, CopyCase{"WholeWindowBack", 5000, kWindowSize, 20},
                      CopyCase{"SourceWrapsBehindStart", 10, 40, 100}, CopyCase{"DestinationWrapsAtEnd", kWindowSize - 7, 500, 60},
                      CopyCase{"BothWrap", kWindowSize - 3, 5, 30}, CopyCase{"SourceAheadOverlapping", 100, kWindowSize - 10, 50},
                      CopyCase{"SourceAheadApart", 100, kWindowSize - 400, 260}),
    [](const ::testing::TestParamInfo<CopyCase>& info) { return info.param.Name; });

TEST(Window, FlushAfterWrapIsTwoWrites) {
  UnpackFixture f;
  f.s().Window = f.window.data();
  for (std::uint32_t i = 0; i < kWindowSize; ++i) f.window[i] = static_cast<std::uint8_t>(i * 7);
  f.s().FlushedPos = kWindowSize - 10;
  f.s().WindowPos = 5;
  MemoryUnpackIo io({});
  FlushWindow(f.s(), io);
  EXPECT_EQ(io.writeSizes, (std::vector<std::uint32_t>{10, 5}));
  std::vector<std::uint8_t> expected(f.window.end() - 10, f.window.end());
  expected.insert(expected.end(), f.window.begin(), f.window.begin() + 5);
  EXPECT_EQ(io.output, expected);
  EXPECT_EQ(f.s().FlushedPos, 5u);
}

TEST(Window, FlushAbortedBetweenTheTwoWritesKeepsFlushedPos) {
  UnpackFixture f;
  f.s().Window = f.window.data();
  f.s().FlushedPos = kWindowSize - 10;
  f.s().WindowPos = 5;
  MemoryUnpackIo io({});
  io.abortAfterWrites = 1;
  FlushWindow(f.s(), io);
  EXPECT_EQ(io.writeSizes, (std::vector<std::uint32_t>{10}));
  EXPECT_EQ(f.s().FlushedPos, kWindowSize - 10);
}

TEST(Window, EntryEndingAtTheWindowEndLeavesTwoEmptyWritesForTheNext) {
  UnpackFixture f;
  f.s().Window = f.window.data();
  f.s().FlushedPos = kWindowSize;
  f.s().WindowPos = kWindowSize & WindowMask;
  EXPECT_TRUE(WindowNearlyFull(f.s()));
  MemoryUnpackIo io({});
  FlushWindow(f.s(), io);
  EXPECT_EQ(io.writeSizes, (std::vector<std::uint32_t>{0, 0}));
  EXPECT_EQ(f.s().FlushedPos, 0u);
}

TEST(Window, NearlyFullWhenFewerThan270BytesStayFree) {
  UnpackFixture f;
  f.s().FlushedPos = 1000;
  f.s().WindowPos = 1000;
  EXPECT_FALSE(WindowNearlyFull(f.s()));  // all flushed: the whole window is free
  f.s().WindowPos = 1000 - 270;
  EXPECT_FALSE(WindowNearlyFull(f.s()));
  f.s().WindowPos = 1000 - 269;
  EXPECT_TRUE(WindowNearlyFull(f.s()));
  f.s().WindowPos = 1001;  // one byte written since the flush
  EXPECT_FALSE(WindowNearlyFull(f.s()));
}

}  // namespace
}  // namespace korvane::testing
