// The multimedia predictor's weight adaptation every 32 bytes: the tie rule and the limits.
// The rest of the predictor is proven by the multimedia corpus entries.
#include <gtest/gtest.h>

#include "tests/unpack/memory_io.h"
#include "unpack/audio.h"

namespace korvane::testing {
namespace {

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
