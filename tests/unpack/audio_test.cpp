// The multimedia predictor: first bytes after a reset, the error sums, the weight
// adaptation every 32 bytes of a channel with its tie rule and limits, and the cross-channel
// difference.
#include <gtest/gtest.h>

#include "tests/unpack/unpack_fixture.h"
#include "unpack/audio.h"

namespace korvane::testing {
namespace {

TEST(AudioPredictor, FirstByteAfterResetIsTheNegatedResidual) {
  for (const auto& [symbol, expected] : {std::pair{0u, 0x00}, std::pair{1u, 0xFF}, std::pair{0x80u, 0x80}, std::pair{0xFFu, 0x01}}) {
    UnpackFixture f;
    EXPECT_EQ(DecodeAudioByte(f.s(), symbol), expected) << symbol;
  }
}

TEST(AudioPredictor, ResidualIsReadAsASignedByteTimesEight) {
  UnpackFixture f;
  DecodeAudioByte(f.s(), 0x80);
  EXPECT_EQ(f.s().AudioStates[0].ErrorSum[0], 1024u);  // |8 * -128|
  DecodeAudioByte(f.s(), 0x7F);
  EXPECT_EQ(f.s().AudioStates[0].ErrorSum[0], 1024u + 1016u);
}

TEST(AudioPredictor, PredictionFollowsTheLastByteAndItsDifference) {
  UnpackFixture f;
  AudioChannelState& c = f.s().AudioStates[0];
  c.PrevByte = 100;
  c.PrevDelta = 10;
  c.Weight[0] = 8;  // prediction = 100 + 8 * 10 / 8 = 110
  EXPECT_EQ(DecodeAudioByte(f.s(), 0), 110);
  EXPECT_EQ(c.Delta[0], 10);
  EXPECT_EQ(c.Delta[1], 10);
  EXPECT_EQ(c.PrevDelta, 10);
  EXPECT_EQ(f.s().CrossDelta, 10);
  EXPECT_EQ(DecodeAudioByte(f.s(), 5), (110 + 10 - 5) & 0xFF);
}

TEST(AudioPredictor, ByteDifferenceWrapsAsASignedByte) {
  UnpackFixture f;
  f.s().AudioStates[0].PrevByte = 250;
  EXPECT_EQ(DecodeAudioByte(f.s(), 0x100 - 10), 4);  // 250 + 10 wraps to 4
  EXPECT_EQ(f.s().AudioStates[0].PrevDelta, 10);    // 4 - 250 = -246, as a byte +10
}

TEST(AudioPredictor, CrossDeltaCarriesTheOtherChannelsDifference) {
  UnpackFixture f;
  f.s().AudioChannel = 1;
  DecodeAudioByte(f.s(), 3);  // channel 1: 0 - 3 -> difference -3
  EXPECT_EQ(f.s().CrossDelta, -3);
  f.s().AudioChannel = 0;
  f.s().AudioStates[0].Weight[4] = 16;  // prediction = 16 * -3 / 8 = -6 -> 0xFA
  EXPECT_EQ(DecodeAudioByte(f.s(), 0), 0xFA);
  EXPECT_EQ(f.s().AudioStates[0].ErrorSum[9], 3u);  // |e - CrossDelta| with the value from before
  EXPECT_EQ(f.s().CrossDelta, static_cast<std::int32_t>(static_cast<std::int8_t>(0xFA)));
}

struct AdaptCase {
  const char* Name;
  int Smallest;         // index of the smallest error sum, or -1 for all equal
  int StartWeight;
  int Weight;           // which weight should move
  int ExpectedWeight;
};

class AudioAdaptTest : public ::testing::TestWithParam<AdaptCase> {};

// The 32nd byte (residual 0, no history) adds nothing to the sums, so the preset sums decide.
TEST_P(AudioAdaptTest, EveryThirtySecondByteMovesTheBestWeightOneStep) {
  const AdaptCase& c = GetParam();
  UnpackFixture f;
  AudioChannelState& ch = f.s().AudioStates[0];
  ch.SampleCount = 31;
  for (int i = 0; i < 11; ++i) ch.ErrorSum[i] = 500;
  if (c.Smallest >= 0) ch.ErrorSum[c.Smallest] = 100;
  ch.ErrorSum[10] = c.Smallest == 10 ? 100 : 500;
  ch.Weight[c.Weight] = c.StartWeight;
  DecodeAudioByte(f.s(), 0);
  EXPECT_EQ(ch.Weight[c.Weight], c.ExpectedWeight);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(ch.ErrorSum[i], 0u) << i;
  for (int w = 0; w < 5; ++w) {
    if (w != c.Weight) {
      EXPECT_EQ(ch.Weight[w], 0) << w;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, AudioAdaptTest,
                         ::testing::Values(AdaptCase{"TieKeepsWeights", -1, 3, 1, 3}, AdaptCase{"NoChangeWins", 0, 3, 1, 3},
                                           AdaptCase{"Lower0", 1, 0, 0, -1}, AdaptCase{"Raise0", 2, 0, 0, 1},
                                           AdaptCase{"Raise1", 4, 5, 1, 6}, AdaptCase{"Lower3", 7, 2, 3, 1},
                                           AdaptCase{"RaiseCross", 10, 0, 4, 1}, AdaptCase{"LowerAtMinus16", 3, -16, 1, -17},
                                           AdaptCase{"NotBelowMinus17", 3, -17, 1, -17}, AdaptCase{"RaiseAt15", 6, 15, 2, 16},
                                           AdaptCase{"NotAbove16", 6, 16, 2, 16}),
                         [](const ::testing::TestParamInfo<AdaptCase>& info) { return info.param.Name; });

TEST(AudioPredictor, EqualSumsAfter32BytesChangeNothingAndRestart) {
  UnpackFixture f;
  for (int i = 0; i < 32; ++i) DecodeAudioByte(f.s(), 0);
  const AudioChannelState& c = f.s().AudioStates[0];
  for (int w = 0; w < 5; ++w) EXPECT_EQ(c.Weight[w], 0);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(c.ErrorSum[i], 0u);
  EXPECT_EQ(c.SampleCount, 32u);
}

}  // namespace
}  // namespace korvane::testing
