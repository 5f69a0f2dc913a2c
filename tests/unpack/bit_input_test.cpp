// Refill at the end of the input, the match copy, the flush rule, and the prefix-code tables'
// odd corners and fast lookup. Plain field reading and complete codes are proven by the corpus.
#include <gtest/gtest.h>

#include <random>
#include <utility>

#include "tests/support/memory_io.h"
#include "unpack/bit_input.h"
#include "unpack/huffman.h"

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

// A flush after a wrap is two writes, up to the window end and from its start; an abort between
// them keeps FlushedPos. An entry ending at the window end leaves two empty writes for the next.
TEST(Window, FlushAfterWrapIsTwoWritesAndAnAbortBetweenThemKeepsFlushedPos) {
  const struct {
    std::uint32_t Flushed, Pos;
    std::size_t AbortAfter;
    std::vector<std::uint32_t> Writes;
    std::uint32_t FlushedAfter;
  } cases[] = {{kWindowSize - 10, 5, 0, {10, 5}, 5},
               {kWindowSize - 10, 5, 1, {10}, kWindowSize - 10},
               {kWindowSize, kWindowSize & WindowMask, 0, {0, 0}, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.Flushed << " " << c.AbortAfter);
    UnpackFixture f;
    for (std::uint32_t i = 0; i < kWindowSize; ++i) f.Window[i] = static_cast<std::uint8_t>(i * 7);
    f.s().FlushedPos = c.Flushed;
    f.s().WindowPos = c.Pos;
    MemoryUnpackIo io({});
    io.AbortAfterWrites = c.AbortAfter;
    FlushWindow(f.s(), io);
    EXPECT_EQ(io.WriteSizes, c.Writes);
    EXPECT_EQ(f.s().FlushedPos, c.FlushedAfter);
    std::vector<std::uint8_t> expected(f.Window.end() - c.Writes[0], f.Window.end());
    if (c.Writes.size() > 1) expected.insert(expected.end(), f.Window.begin(), f.Window.begin() + c.Writes[1]);
    EXPECT_EQ(io.Output, expected);
  }
}

TEST(Window, NearlyFullWhenFewerThan270BytesStayFree) {
  const std::uint32_t cases[][3] = {{1000, 1000, 0}, {1000, 730, 0}, {1000, 731, 1}, {1000, 1001, 0},
                                    {kWindowSize, kWindowSize & WindowMask, 1}};  // flushed, pos, full
  for (const auto& [flushed, pos, full] : cases) {
    UnpackFixture f;
    f.s().FlushedPos = flushed;
    f.s().WindowPos = pos;
    EXPECT_EQ(WindowNearlyFull(f.s()), full != 0) << flushed << " " << pos;
  }
}

std::vector<std::uint8_t> Only(std::size_t count, std::size_t symbol, std::uint8_t length) {
  std::vector<std::uint8_t> lengths(count, 0);
  lengths[symbol] = length;
  return lengths;
}

// The symbol read from the start of input through the table built from lengths (over an
// earlier build, if any), and the bits it took.
template <typename Table>
std::pair<std::uint32_t, std::uint32_t> DecodeFirst(Table UnpackState::*table, const std::vector<std::uint8_t>& earlier,
                                                    const std::vector<std::uint8_t>& lengths,
                                                    std::vector<std::uint8_t> input) {
  UnpackFixture f;
  input.resize(input.size() + 4);
  MemoryUnpackIo io(input);
  RefillPackedBuffer(f.s(), io, true);
  Table& t = f.s().*table;
  if (!earlier.empty()) BuildHuffmanTable(earlier.data(), t, static_cast<std::uint32_t>(earlier.size()));
  BuildHuffmanTable(lengths.data(), t, static_cast<std::uint32_t>(lengths.size()));
  const std::uint32_t symbol = DecodeHuffmanSymbol(f.s(), t);
  return {symbol, f.s().PackedPos * 8 + f.s().BitPos};
}

TEST(HuffmanTable, OddCornersOfTheRule) {
  using Read = std::pair<std::uint32_t, std::uint32_t>;  // symbol, bits taken
  // A single symbol of length 1 takes every code starting with 0.
  for (std::uint8_t high : {0x00, 0x3F, 0x7F})
    EXPECT_EQ(DecodeFirst(&UnpackState::MainTable, {}, Only(298, 65, 1), {high, 0xFF, 0xFF}), Read(65, 1)) << +high;
  // An incomplete code still gives each of its canonical codes: 000, 00100, 00101, 0011000.
  const std::vector<std::uint8_t> incomplete{3, 0, 5, 5, 0, 0, 7};
  EXPECT_EQ(DecodeFirst(&UnpackState::MainTable, {}, incomplete, {0x00}), Read(0, 3));
  EXPECT_EQ(DecodeFirst(&UnpackState::MainTable, {}, incomplete, {0x20}), Read(2, 5));
  EXPECT_EQ(DecodeFirst(&UnpackState::MainTable, {}, incomplete, {0x28}), Read(3, 5));
  EXPECT_EQ(DecodeFirst(&UnpackState::MainTable, {}, incomplete, {0x30}), Read(6, 7));
  // Only symbol 5 has a code (0). An input starting with 1 finds no length up to 14, so it
  // reads 15 bits; near the top of the range the index passes SymbolCount and yields
  // Symbols[0] = 5; just above 0x8000 it is small and yields an unfilled entry (0).
  EXPECT_EQ(DecodeFirst(&UnpackState::PreCodeTable, {}, Only(19, 5, 1), {0xFF, 0xFE}), Read(5, 15));
  EXPECT_EQ(DecodeFirst(&UnpackState::PreCodeTable, {}, Only(19, 5, 1), {0x80, 0x02}), Read(0, 15));
  // Unfilled entries keep what an earlier build put there: after 28 equal lengths, only symbol
  // 3 gets a code (00); 0x4000 reads 15 bits to index 1, still holding symbol 1.
  const std::vector<std::uint8_t> earlier(28, 5);
  EXPECT_EQ(DecodeFirst(&UnpackState::RepeatLengthTable, earlier, Only(28, 3, 2), {0x00}), Read(3, 2));
  EXPECT_EQ(DecodeFirst(&UnpackState::RepeatLengthTable, earlier, Only(28, 3, 2), {0x40, 0x00}), Read(1, 15));
}

// The fast lookup is only a cache of the tree: for random (often invalid) length sets and
// random input, both must give the same symbol and consume the same bits.
TEST(HuffmanTable, FastLookupAgreesWithTheComparisonTree) {
  std::mt19937 rng(1234);
  std::vector<std::uint8_t> packed(64);
  UnpackFixture a, b;
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint8_t> lengths(298);
    const int maxLength = 1 + static_cast<int>(rng() % 15);
    const int density = 1 + static_cast<int>(rng() % 100);
    for (std::uint8_t& l : lengths) l = (static_cast<int>(rng() % 100) < density) ? static_cast<std::uint8_t>(rng() % (maxLength + 1)) : 0;
    if (round % 3 == 0) {  // a complete code with every length from 1 to 15
      lengths.assign(298, 0);
      for (int i = 0; i < 14; ++i) lengths[i * 20] = static_cast<std::uint8_t>(i + 1);
      lengths[290] = lengths[297] = 15;
    }
    BuildHuffmanTable(lengths.data(), a.s().MainTable, 298);
    BuildHuffmanTable(lengths.data(), b.s().MainTable, 298);
    for (int probe = 0; probe < 200; ++probe) {
      for (std::uint8_t& byte : packed) byte = static_cast<std::uint8_t>(rng());
      MemoryUnpackIo ioA(packed), ioB(packed);
      a.s().BitPos = b.s().BitPos = 0;
      RefillPackedBuffer(a.s(), ioA, true);
      RefillPackedBuffer(b.s(), ioB, true);
      const std::uint32_t skip = rng() % 8;
      SkipBits(a.s(), skip);
      SkipBits(b.s(), skip);
      ASSERT_EQ(DecodeHuffmanSymbol(a.s(), a.s().MainTable), DecodeHuffmanSymbolByTree(b.s(), b.s().MainTable));
      ASSERT_EQ(a.s().PackedPos * 8 + a.s().BitPos, b.s().PackedPos * 8 + b.s().BitPos);
    }
  }
}

}  // namespace
}  // namespace korvane::testing
