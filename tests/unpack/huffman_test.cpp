// Prefix-code tables: the written rule's odd corners hold (a single symbol, an incomplete code,
// an index beyond SymbolCount, unfilled entries), and the fast lookup never disagrees with the
// comparison tree. Complete codes are proven by every table block of the corpus.
#include <gtest/gtest.h>

#include <random>
#include <utility>

#include "tests/unpack/memory_io.h"
#include "unpack/huffman.h"

namespace korvane::testing {
namespace {

// Loads bytes as the whole packed input of a fresh state.
void Load(UnpackFixture& f, MemoryUnpackIo& io) { RefillPackedBuffer(f.s(), io, true); }

std::vector<std::uint8_t> MixedLengths() {
  // A complete code with every length from 1 to 15.
  std::vector<std::uint8_t> lengths(298, 0);
  for (int i = 0; i < 14; ++i) lengths[i * 20] = static_cast<std::uint8_t>(i + 1);
  lengths[290] = lengths[297] = 15;
  return lengths;
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
  Load(f, io);
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
    if (round % 3 == 0) lengths = MixedLengths();
    BuildHuffmanTable(lengths.data(), a.s().MainTable, 298);
    BuildHuffmanTable(lengths.data(), b.s().MainTable, 298);
    for (int probe = 0; probe < 200; ++probe) {
      for (std::uint8_t& byte : packed) byte = static_cast<std::uint8_t>(rng());
      MemoryUnpackIo ioA(packed), ioB(packed);
      a.s().BitPos = b.s().BitPos = 0;
      Load(a, ioA);
      Load(b, ioB);
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
