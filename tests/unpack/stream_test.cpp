// Both formats on hand-built streams, for the corners the corpus does not reach: the threshold
// codes, literal mode, pre-code runs, the audio channel reset, the trailing-symbol guard, empty
// entries, the window a non-solid entry sees, abort, a stream that never ends, and the
// predictor's weight adaptation. The order lists' rescale is proven by the format 1.5 corpus.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/unpack/stream_writer.h"
#include "tests/support/memory_io.h"
#include "unpack/audio.h"
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

void PutCode(BitWriter& w, const ThresholdCode& code, std::uint32_t value) {
  const auto [word, width] = EncodeThreshold(code, value);
  w.Put(word, width);
}

std::vector<std::uint8_t> Text(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

using Unpacker = void (*)(UnpackState&, UnpackIo&, std::uint8_t*, bool);

std::vector<std::uint8_t> Decode(UnpackFixture& f, const std::vector<std::uint8_t>& packed, std::int32_t size,
                                 bool solid = false, Unpacker unpack = UnpackFormat20) {
  MemoryUnpackIo io(packed, size);
  unpack(f.s(), io, f.Window.data(), solid);
  return io.Output;
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
  std::vector<std::uint8_t> expected(28, 0);
  expected.push_back(255);
  EXPECT_EQ(Decode(f, w.Bytes(8), 29, false, UnpackFormat15), expected);
  EXPECT_TRUE(f.s().LiteralMode);
  EXPECT_EQ(f.s().LastMatchLength, 0u);  // the escape's match is not recorded
}

// A table block whose pre-code gives all 19 symbols length 5, so each is written as its own
// number. A repeat run at the first position repeats 0 (there is no earlier length), and the
// last run is cut at the last position: the block ends there.
TEST(Format20, PreCodeRunsFillPositionsFromTheFirstToTheLast) {
  BitWriter b;
  b.Put(0, 2);
  for (int s = 0; s < 19; ++s) b.Put(5, 4);
  const std::uint32_t symbols[][3] = {{16, 3, 2},                  // positions 0..5 repeat "the previous length"
                                      {18, 47, 7},                 // 6..63 zero
                                      {2, 0, 0},                   // 64: length 2
                                      {16, 0, 2},                  // 65..67: repeat 2
                                      {18, 127, 7}, {18, 127, 7},  // 68..343
                                      {17, 7, 3},                  // 344..353
                                      {18, 127, 7}};               // 354..373 of 138
  for (const auto& [symbol, extra, bits] : symbols) {
    b.Put(symbol, 5);
    b.Put(extra, static_cast<int>(bits));
  }
  b.Put(0b011100, 6);  // main codes now 64 -> 00, 65 -> 01, 66 -> 10, 67 -> 11
  UnpackFixture f;
  EXPECT_EQ(Decode(f, b.Bytes(8), 3), Text("AC@"));
  for (int i = 0; i < 374; ++i) EXPECT_EQ(f.s().PreviousLengths[i], (i >= 64 && i <= 67) ? 2 : 0) << i;
}

// Entry 1 leaves the stream in a 4-channel audio block with channel 3 next; entry 2 (solid)
// begins with a new audio block: fewer channels reset the channel, as many keep it.
TEST(Format20, NewAudioBlockResetsAChannelBeyondItsCount) {
  for (const auto& [channels, decoding] : {std::pair{2, 0}, std::pair{4, 3}}) {
    SCOPED_TRACE(channels);
    UnpackFixture f;
    Format20Writer w;
    w.UniformAudioBlock(4);
    for (int i = 0; i < 3; ++i) w.Audio(0);
    Decode(f, w.Bytes(), 3);
    ASSERT_EQ(f.s().AudioChannel, 3);

    Format20Writer next;
    next.Previous = w.Previous;
    next.Audio(256);
    next.UniformAudioBlock(channels, true);
    next.Audio(1);
    EXPECT_EQ(Decode(f, next.Bytes(), 1, true), std::vector<std::uint8_t>{0xFF});
    EXPECT_EQ(f.s().AudioChannels, channels);
    EXPECT_EQ(f.s().AudioStates[decoding].SampleCount, decoding == 3 ? 1u : 2u);
  }
}

TEST(Format20, TrailingSymbolNeedsFiveValidBytes) {
  for (std::size_t extraBytes : {4u, 5u}) {
    Format20Writer w;
    w.UniformTableBlock();
    w.Main('a');
    const std::size_t consumed = (w.Bits.Count + 7) / 8;  // the read position after 'a'
    w.Main(269);
    w.UniformTableBlock(false, 11);
    std::vector<std::uint8_t> packed = w.Bytes();
    packed.resize(consumed - 1 + extraBytes);  // PackedPos stays on the partly used last byte
    UnpackFixture f;
    Decode(f, packed, 1);
    // With five bytes the block is read, from what little of it is there.
    EXPECT_EQ(f.s().PreviousLengths[0] != 9, extraBytes >= 5) << extraBytes;
  }
}

// An empty entry flushes nothing, once: format 1.5 reads no flag byte (the flag list keeps its
// start order), format 2.0 still reads its table block.
TEST(EmptyEntry, FlushesNothingAndReadsOnlyItsTableBlock) {
  UnpackFixture f15, f20;
  MemoryUnpackIo io15(std::vector<std::uint8_t>(16, 0xFF), 0);
  UnpackFormat15(f15.s(), io15, f15.Window.data(), false);
  EXPECT_EQ(io15.WriteSizes, std::vector<std::uint32_t>{0});
  EXPECT_EQ(f15.s().FlagOrder[1], 255u << 8);
  EXPECT_EQ(f15.s().FlagNextSlot[0], 0u);
  Format20Writer w;
  w.UniformTableBlock(false, 8);
  MemoryUnpackIo io20(w.Bytes(), 0);
  UnpackFormat20(f20.s(), io20, f20.Window.data(), false);
  EXPECT_EQ(io20.WriteSizes, std::vector<std::uint32_t>{0});
  EXPECT_EQ(io20.RemainingOutput, -1);
  EXPECT_EQ(f20.s().PreviousLengths[0], 8);
}

// A non-solid entry reads zeros wherever it reaches back past its start, whatever the entry
// before it left in the window: a few bytes, bytes written but cut off by an abort before
// their flush, or more than the whole window.
TEST(Format20, NonSolidEntrySeesAClearedWindow) {
  Format20Writer second;
  second.UniformTableBlock();
  second.Main('k');
  second.LongMatch(8, kWindowSize - 1);       // from position 1 this reads positions 2 to 9,
  second.LongMatch(8, kWindowSize - 499991);  // and from 9 this reads 500000 to 500007
  for (const char* how : {"flushed", "unflushed", "wrapped"}) {
    SCOPED_TRACE(how);
    const std::string kind = how;
    UnpackFixture f;
    Format20Writer first;
    first.UniformTableBlock();
    for (char c : std::string("vwxyz")) first.Main(static_cast<std::uint8_t>(c));
    std::int32_t size = 5;
    if (kind == "wrapped") {
      first.LongMatch(200, 1);
      for (int i = 0; i < 5300; ++i) first.Main(256);
      size += 200 * 5301;
    }
    EXPECT_EQ(Decode(f, first.Bytes(), size).size(), static_cast<std::size_t>(size));
    if (kind == "unflushed") {  // as an abort between the writes and the flush leaves it
      f.Window[8] = 'q';
      f.s().WindowPos = 9;
    }
    EXPECT_EQ(Decode(f, second.Bytes(), 17), Text("k" + std::string(16, '\0')));
  }
}

TEST(Format20, AbortStopsWithoutTheFinalFlush) {
  Format20Writer w;
  w.UniformTableBlock();
  w.Main('a');
  w.LongMatch(200, 1);
  for (int i = 0; i < 20000; ++i) w.Main(256);
  UnpackFixture f;
  MemoryUnpackIo io(w.Bytes(), 4000000);
  io.AbortAfterWrites = 2;
  UnpackFormat20(f.s(), io, f.Window.data(), false);
  EXPECT_EQ(io.WriteSizes.size(), 2u);
  EXPECT_GT(io.RemainingOutput, 0);

  MemoryUnpackIo before(w.Bytes(), 10);
  before.SetAbort(2);
  UnpackFormat20(f.s(), before, f.Window.data(), false);
  EXPECT_EQ(before.Reads, 0u);
  EXPECT_TRUE(before.WriteSizes.empty());
}

// A code in which every input means "repeat the last match", before any match: nothing is
// ever produced, so RemainingOutput never falls. The unpacker must still return once the
// packed data is used up.
TEST(Format20, StreamThatProducesNothingEndsWhenItsInputIsUsedUp) {
  std::vector<std::uint8_t> lengths(374, 0);
  lengths[256] = 1;
  Format20Writer w;
  w.TableBlock(false, 1, lengths, false);
  UnpackFixture f;
  MemoryUnpackIo io(w.Bytes(), 1000);
  UnpackFormat20(f.s(), io, f.Window.data(), false);
  // Stale buffer bytes read after the end may decode to a few stray bytes; what matters is
  // that the call returns long before the declared size is reached.
  EXPECT_LT(io.Output.size(), 100u);
  EXPECT_GT(io.RemainingOutput, 900);
  EXPECT_LE(io.Reads, 3u);
}

struct AdaptCase {
  int Smallest;  // index of the smallest error sum, or -1 for all equal
  int Weight, StartWeight, ExpectedWeight;
};

// The 32nd byte (residual 0, no history) adds nothing to the sums, so the preset sums decide.
TEST(AudioPredictor, EveryThirtySecondByteMovesTheBestWeightOneStep) {
  const AdaptCase cases[] = {{-1, 1, 3, 3}, {0, 1, 3, 3},      {1, 0, 0, -1},     {2, 0, 0, 1},
                             {4, 1, 5, 6},  {7, 3, 2, 1},      {10, 4, 0, 1},     {3, 1, -16, -17},
                             {3, 1, -17, -17}, {6, 2, 15, 16}, {6, 2, 16, 16}};
  for (const AdaptCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "smallest " << c.Smallest << " weight " << c.Weight << " from " << c.StartWeight);
    UnpackFixture f;
    AudioChannelState& ch = f.s().AudioStates[0];
    ch.SampleCount = 31;
    for (int i = 0; i < 11; ++i) ch.ErrorSum[i] = i == c.Smallest ? 100 : 500;
    ch.Weight[c.Weight] = c.StartWeight;
    DecodeAudioByte(f.s(), 0);
    for (int w = 0; w < 5; ++w) EXPECT_EQ(ch.Weight[w], w == c.Weight ? c.ExpectedWeight : 0) << w;
    for (int i = 0; i < 11; ++i) EXPECT_EQ(ch.ErrorSum[i], 0u) << i;
  }
}

}  // namespace
}  // namespace korvane::testing
