// Prefix-code tables: canonical codes decode to their symbols with their own lengths, the
// written rule's odd corners hold (single symbol, index beyond SymbolCount), and the fast
// lookup never disagrees with the comparison tree.
#include <gtest/gtest.h>

#include <random>

#include "tests/unpack/bit_writer.h"
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

TEST(HuffmanTable, EverySymbolDecodesFromItsCanonicalCodeWithItsLength) {
  const std::vector<std::uint8_t> codeSets[] = {MixedLengths(), std::vector<std::uint8_t>(298, 9),
                                                std::vector<std::uint8_t>(298, 15),
                                                {2, 0, 2, 3, 0, 3, 3, 12, 12, 0, 11, 10, 9, 8, 7, 6, 5, 4},
                                                {3, 0, 5, 5, 0, 0, 7}};  // the last is incomplete
  for (const std::vector<std::uint8_t>& lengths : codeSets) {
    SCOPED_TRACE(lengths.size());
    const std::vector<PrefixCode> codes = CanonicalCodes(lengths);
    BitWriter writer;
    std::vector<std::uint32_t> sent;
    for (int round = 0; round < 2; ++round) {
      for (std::uint32_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s] == 0) continue;
        writer.Put(codes[s].Code, codes[s].Length);
        sent.push_back(s);
      }
    }
    UnpackFixture f;
    MemoryUnpackIo io(writer.Bytes(4));
    Load(f, io);
    BuildHuffmanTable(lengths.data(), f.s().MainTable, static_cast<std::uint32_t>(lengths.size()));
    std::size_t bits = 0;
    for (std::uint32_t expected : sent) {
      ASSERT_EQ(DecodeHuffmanSymbol(f.s(), f.s().MainTable), expected);
      bits += lengths[expected];
      ASSERT_EQ(f.s().PackedPos * 8 + f.s().BitPos, bits);
    }
  }
}

TEST(HuffmanTable, SingleSymbolOfLengthOneTakesEveryCodeStartingWithZero) {
  std::vector<std::uint8_t> lengths(298, 0);
  lengths[65] = 1;
  for (std::uint32_t high : {0x00u, 0x3Fu, 0x7Fu}) {
    UnpackFixture f;
    MemoryUnpackIo io(std::vector<std::uint8_t>{static_cast<std::uint8_t>(high), 0xFF, 0xFF, 0, 0});
    Load(f, io);
    BuildHuffmanTable(lengths.data(), f.s().MainTable, 298);
    EXPECT_EQ(DecodeHuffmanSymbol(f.s(), f.s().MainTable), 65u);
    EXPECT_EQ(f.s().PackedPos * 8 + f.s().BitPos, 1u);
  }
}

TEST(HuffmanTable, IndexBeyondSymbolCountDecodesAsTheFirstSymbol) {
  // Only symbol 5 has a code (0). An input starting with 1 finds no length up to 14, so it
  // reads 15 bits; near the top of the range the index passes SymbolCount and yields
  // Symbols[0] = 5; just above 0x8000 it is small and yields an unfilled entry (0).
  std::vector<std::uint8_t> lengths(19, 0);
  lengths[5] = 1;
  struct Probe {
    std::uint8_t First, Second;
    std::uint32_t Symbol;
  };
  for (const Probe& p : {Probe{0xFF, 0xFE, 5}, Probe{0x80, 0x02, 0}}) {
    UnpackFixture f;
    MemoryUnpackIo io(std::vector<std::uint8_t>{p.First, p.Second, 0, 0});
    Load(f, io);
    BuildHuffmanTable(lengths.data(), f.s().PreCodeTable, 19);
    EXPECT_EQ(DecodeHuffmanSymbol(f.s(), f.s().PreCodeTable), p.Symbol);
    EXPECT_EQ(f.s().PackedPos * 8 + f.s().BitPos, 15u);
  }
}

TEST(HuffmanTable, UnfilledEntriesKeepWhatAnEarlierBuildPutThere) {
  UnpackFixture f;
  std::vector<std::uint8_t> first(28, 5);
  BuildHuffmanTable(first.data(), f.s().RepeatLengthTable, 28);
  std::vector<std::uint8_t> second(28, 0);
  second[3] = 2;
  BuildHuffmanTable(second.data(), f.s().RepeatLengthTable, 28);
  EXPECT_EQ(f.s().RepeatLengthTable.Symbols[0], 3u);
  EXPECT_EQ(f.s().RepeatLengthTable.Symbols[1], 1u);  // left from the first build
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
