// Format 2.0 on hand-built streams, for the corners the corpus may miss: pre-code runs, the
// audio channel reset, a repeat before any match, the trailing-symbol guard, an empty entry,
// the window a non-solid entry sees, abort, a stream that never ends, and the multimedia
// predictor's weight adaptation (the rest of the predictor is proven by the corpus).
#include <gtest/gtest.h>

#include <string>

#include "tests/unpack/format20_writer.h"
#include "tests/unpack/memory_io.h"
#include "unpack/audio.h"

namespace korvane::testing {
namespace {

std::vector<std::uint8_t> Text(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

std::vector<std::uint8_t> Decode(UnpackFixture& f, const std::vector<std::uint8_t>& packed, std::int32_t size, bool solid = false) {
  MemoryUnpackIo io(packed, size);
  UnpackFormat20(f.s(), io, f.Window.data(), solid);
  return io.Output;
}

TEST(Format20, RepeatBeforeAnyMatchCopiesNothingAndPushesDistanceZero) {
  Format20Writer w;
  w.UniformTableBlock();
  w.Literal('k');
  w.Main(256);
  w.RecentMatch(3, 3, 0);  // distance 0 right after the reset: copies the window onto itself
  w.Literal('m');
  UnpackFixture f;
  EXPECT_EQ(Decode(f, w.Bytes(), 5), Text(std::string("k") + std::string(3, '\0') + "m"));
  EXPECT_EQ(f.s().RecentDistances[0], 0u);
  EXPECT_EQ(f.s().RecentDistanceIndex, 2u);
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
    w.Literal('a');
    const std::size_t consumed = (w.Bits.Count + 7) / 8;  // the read position after 'a'
    w.Main(269);
    w.UniformTableBlock(false, 11);
    std::vector<std::uint8_t> packed = w.Bytes();
    packed.resize(consumed - 1 + extraBytes);  // PackedPos stays on the partly used last byte
    UnpackFixture f;
    Decode(f, packed, 1);
    // With five bytes the block is read, from what little of it is there.
    if (extraBytes >= 5) EXPECT_NE(f.s().PreviousLengths[0], 9);
    else EXPECT_EQ(f.s().PreviousLengths[0], 9);
  }
}

TEST(Format20, EmptyEntryStillReadsItsTableBlockAndFlushesNothing) {
  Format20Writer w;
  w.UniformTableBlock(false, 8);
  UnpackFixture f;
  MemoryUnpackIo io(w.Bytes(), 0);
  UnpackFormat20(f.s(), io, f.Window.data(), false);
  EXPECT_EQ(io.WriteSizes, std::vector<std::uint32_t>{0});
  EXPECT_EQ(io.RemainingOutput, -1);
  EXPECT_EQ(f.s().PreviousLengths[0], 8);
}

// A non-solid entry reads zeros wherever it reaches back past its start, whatever the entry
// before it left in the window: a few bytes, bytes written but cut off by an abort before
// their flush, or more than the whole window.
TEST(Format20, NonSolidEntrySeesAClearedWindow) {
  Format20Writer second;
  second.UniformTableBlock();
  second.Literal('k');
  second.LongMatch(8, kWindowSize - 1);       // from position 1 this reads positions 2 to 9,
  second.LongMatch(8, kWindowSize - 499991);  // and from 9 this reads 500000 to 500007
  for (const char* how : {"flushed", "unflushed", "wrapped"}) {
    SCOPED_TRACE(how);
    const std::string kind = how;
    UnpackFixture f;
    Format20Writer first;
    first.UniformTableBlock();
    for (char c : std::string("vwxyz")) first.Literal(static_cast<std::uint8_t>(c));
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
  w.Literal('a');
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
