// Progress gauge geometry for the job states the progress window shows.
#include <gtest/gtest.h>

#include <string>

#include "ui/gauge.h"

namespace korvane::ui {
namespace {

struct GaugeCase {
  const char* name;
  int currentVolume, volumeCount;
  float fileProgress;
  int totalY;
  std::string totalText;
  int fileY;
  std::string fileText;
};
class Gauges : public ::testing::TestWithParam<GaugeCase> {};

TEST_P(Gauges, ColumnsMarkersAndTexts) {
  const auto c = GetParam();
  const ProgressGauges g = ComputeProgressGauges(c.currentVolume, c.volumeCount, c.fileProgress);
  EXPECT_EQ(g.total.fillY, c.totalY);
  EXPECT_EQ(g.total.fillHeight, 261 - c.totalY);
  EXPECT_EQ(g.total.text, c.totalText);
  EXPECT_EQ(g.file.fillY, c.fileY);
  EXPECT_EQ(g.file.fillHeight, 260 - c.fileY);
  EXPECT_EQ(g.file.text, c.fileText);
  EXPECT_EQ(g.total.textTop, c.totalY - 6);
  EXPECT_EQ(g.file.textTop, c.fileY - 6);
}

INSTANTIATE_TEST_SUITE_P(
    States, Gauges,
    ::testing::Values(GaugeCase{"Start", 1, 54, 0.0f, 261, "0%", 260, "0%"},
                      GaugeCase{"HalfTheVolumes", 28, 54, 0.37f, 159, "50%", 184, "37%"},
                      GaugeCase{"Finished", 55, 54, 1.0f, 58, "100%", 57, "100%"},
                      GaugeCase{"MoreVolumesThanAnnounced", 80, 54, 1.5f, 58, "100%", 57, "100%"},
                      GaugeCase{"NoVolumeCount", 5, 0, -0.5f, 261, "0%", 260, "0%"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Gauges, FixedPlacesOfFillMarkerAndText) {
  const ProgressGauges g = ComputeProgressGauges(28, 54, 1.0f);
  EXPECT_EQ(g.total.fillX, 328);
  EXPECT_EQ(g.total.fillWidth, 29);
  EXPECT_EQ(g.total.textRight, 305);
  EXPECT_EQ(g.total.marker[0].x, 313);
  EXPECT_EQ(g.total.marker[0].y, 159);
  EXPECT_EQ(g.total.marker[1].x, 308);
  EXPECT_EQ(g.total.marker[1].y, 153);
  EXPECT_EQ(g.total.marker[2].y, 165);
  EXPECT_EQ(g.file.fillX, 197);
  EXPECT_EQ(g.file.textRight, 174);
  EXPECT_EQ(g.file.marker[0].x, 182);
  EXPECT_EQ(g.file.marker[2].x, 177);
}

}  // namespace
}  // namespace korvane::ui
