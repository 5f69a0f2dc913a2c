// Format 1.5: the threshold codes, the order-list rescale, the empty entry, and literal mode's
// escape and top place. Every other stream branch is reached by the corpus.
#include <gtest/gtest.h>

#include <utility>

#include "tests/unpack/bit_writer.h"
#include "tests/unpack/memory_io.h"
#include "unpack/format15_codes.h"

namespace korvane::testing {
namespace {

using namespace format15;

// The code word for value and its width: the width whose range holds it and the offset within
// that range, built from the code's limits and bases (the inverse of reading it).
std::pair<std::uint32_t, int> EncodeThreshold(const ThresholdCode& code, std::uint32_t value) {
  std::uint32_t below = 0;
  for (std::uint32_t i = 0;; ++i) {
    const std::uint32_t width = code.StartWidth + i;
    const std::uint32_t limit = code.Limits[i] == 0xFFFF ? 0x10000 : code.Limits[i];
    const std::uint32_t count = (limit - below) >> (16 - width);
    if (value >= code.Bases[width] && value < code.Bases[width] + count) {
      const std::uint32_t n = below + ((value - code.Bases[width]) << (16 - width));
      return {n >> (16 - width), static_cast<int>(width)};
    }
    below = code.Limits[i];
  }
}

// Makes bytes the whole packed input of the fixture, read from its first bit.
void LoadInput(UnpackFixture& f, const std::vector<std::uint8_t>& bytes) {
  MemoryUnpackIo io(bytes);
  f.s().BitPos = 0;
  RefillPackedBuffer(f.s(), io, true);
}

// Every value reads back from its code word with its width, and the lookup tables the unpacker
// uses answer every input exactly as the walk does.
TEST(ThresholdCode, ValuesReadBackAndTheLookupTableAgreesWithTheWalk) {
  const struct {
    const char* Name;
    const ThresholdCode* Code;
    const ThresholdTable* Table;
    std::uint32_t MaxValue;
  } codes[] = {{"LengthCodeA", &kLengthCodeA, &kLengthTableA, 255}, {"LengthCodeB", &kLengthCodeB, &kLengthTableB, 255},
               {"PlaceCodeA", &kPlaceCodeA, &kPlaceTableA, 256},    {"PlaceCodeB", &kPlaceCodeB, &kPlaceTableB, 256},
               {"PlaceCodeC", &kPlaceCodeC, &kPlaceTableC, 256},    {"PlaceCodeD", &kPlaceCodeD, &kPlaceTableD, 256},
               {"PlaceCodeE", &kPlaceCodeE, &kPlaceTableE, 256}};
  UnpackFixture a, b;
  for (const auto& c : codes) {
    SCOPED_TRACE(c.Name);
    for (std::uint32_t value = 0; value <= c.MaxValue; ++value) {
      const auto [word, width] = EncodeThreshold(*c.Code, value);
      BitWriter w;
      w.Put(word, width);
      w.Put(0x5A5A, 16);  // whatever follows must not matter
      LoadInput(a, w.Bytes(4));
      ASSERT_EQ(DecodeThresholdCodeByWalk(a.s(), PeekBits(a.s()), *c.Code), value);
      ASSERT_EQ(a.s().PackedPos * 8 + a.s().BitPos, static_cast<std::uint32_t>(width)) << value;
    }
    for (std::uint32_t input = 0; input < 0x10000; input += 3) {
      const std::vector<std::uint8_t> packed = {static_cast<std::uint8_t>(input >> 8), static_cast<std::uint8_t>(input),
                                                0, 0};
      LoadInput(a, packed);
      LoadInput(b, packed);
      ASSERT_EQ(DecodeThresholdCode(a.s(), input, *c.Table), DecodeThresholdCodeByWalk(b.s(), input, *c.Code)) << input;
      ASSERT_EQ(a.s().BitPos + 8 * a.s().PackedPos, b.s().BitPos + 8 * b.s().PackedPos) << input;
    }
  }
}

TEST(OrderList, OverflowingCounterRescalesBeforeTheMove) {
  struct Case {
    CounterLimit Limit;
    std::uint32_t Counter;
    bool Rescales;
  };
  for (const Case& c : {Case{CounterLimit::Literal, 0xA0, false}, Case{CounterLimit::Literal, 0xA1, true},
                        Case{CounterLimit::Wrap, 0xFE, false}, Case{CounterLimit::Wrap, 0xFF, true}}) {
    SCOPED_TRACE(c.Counter);
    std::uint32_t list[256], slots[256] = {};
    for (std::uint32_t i = 0; i < 256; ++i) list[i] = i << 8;
    list[40] = (40u << 8) | c.Counter;
    slots[c.Counter] = 40;
    const std::uint32_t promoted = PromoteOrderEntry(list, slots, 40, c.Limit);
    if (c.Rescales) {
      // Place 40 was graded to counter 6 (group 32..63 starts at slot 32), then promoted.
      EXPECT_EQ(promoted, (40u << 8) | 7);
      EXPECT_EQ(list[32], (40u << 8) | 7);
      EXPECT_EQ(list[40], (32u << 8) | 6);
      EXPECT_EQ(list[255] & 0xFF, 0u);
    } else {
      EXPECT_EQ(promoted, (40u << 8) | (c.Counter + 1));
      EXPECT_EQ(list[40], (40u << 8) | (c.Counter + 1));
      EXPECT_EQ(list[255], 255u << 8);
    }
  }
}

void PutCode(BitWriter& w, const ThresholdCode& code, std::uint32_t value) {
  const auto [word, width] = EncodeThreshold(code, value);
  w.Put(word, width);
}

TEST(Format15, EmptyEntryReadsNoFlagByte) {
  UnpackFixture f;
  MemoryUnpackIo io(std::vector<std::uint8_t>(16, 0xFF), 0);
  UnpackFormat15(f.s(), io, f.Window.data(), false);
  EXPECT_EQ(io.WriteSizes, std::vector<std::uint32_t>{0});
  EXPECT_EQ(f.s().FlagOrder[1], 255u << 8);  // not promoted
  EXPECT_EQ(f.s().FlagNextSlot[0], 0u);
}

// 24 literals from three all-literal flag bytes: the last one comes with the flag byte used
// up and 16 or more literals behind it, which turns literal mode on. In literal mode place
// 0 escapes (here into a 4-byte match at distance 1) and place 256 is byte place 255. Flag
// bytes are sent as places in the flag list, whose start order puts byte F at place 256 - F.
TEST(Format15, LiteralModeEscapeAndTopPlace) {
  BitWriter w;
  for (std::uint32_t flagPlace : {1, 0, 0}) {  // 0xFF, which then has moved to place 0
    PutCode(w, kPlaceCodeC, flagPlace);
    for (int i = 0; i < 8; ++i) PutCode(w, kPlaceCodeB, 0);
  }
  PutCode(w, kPlaceCodeB, 0);  // literal mode: escape
  w.Put(0, 1);                 // a match, not the way out
  w.Put(1, 1);                 // of 4 bytes
  PutCode(w, kPlaceCodeC, 0);
  w.Put(1, 5);                 // distance 0 * 32 + 1
  PutCode(w, kPlaceCodeB, 256);
  UnpackFixture f;
  MemoryUnpackIo io(w.Bytes(8), 29);
  UnpackFormat15(f.s(), io, f.Window.data(), false);
  const std::vector<std::uint8_t>& out = io.Output;
  ASSERT_EQ(out.size(), 29u);
  EXPECT_EQ(out.back(), 255);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.end() - 1), std::vector<std::uint8_t>(28, 0));
  EXPECT_TRUE(f.s().LiteralMode);
  EXPECT_EQ(f.s().LastMatchLength, 0u);  // the escape's match is not recorded
}

}  // namespace
}  // namespace korvane::testing
