// Progress gauge geometry for the job states the progress window shows, ends included.
#include <gtest/gtest.h>

#include <string>

#include "ui/gauge.h"

namespace korvane::ui {
namespace {

TEST(Gauges, LevelsTextsAndMarkersFollowTheJob) {
  const struct {
    int CurrentVolume, VolumeCount;
    float FileProgress;
    int TotalY;
    std::string TotalText;
    int FileY;
    std::string FileText;
  } cases[] = {{1, 54, 0.0f, 261, "0%", 260, "0%"},
               {28, 54, 0.37f, 159, "50%", 184, "37%"},
               {55, 54, 1.0f, 58, "100%", 57, "100%"},
               {80, 54, 1.5f, 58, "100%", 57, "100%"},  // more volumes than announced
               {5, 0, -0.5f, 261, "0%", 260, "0%"}};    // no volume count
  for (const auto& c : cases) {
    SCOPED_TRACE(c.CurrentVolume);
    const ProgressGauges g = ComputeProgressGauges(c.CurrentVolume, c.VolumeCount, c.FileProgress);
    EXPECT_EQ(g.Total.FillY, c.TotalY);
    EXPECT_EQ(g.Total.FillHeight, 261 - c.TotalY);
    EXPECT_EQ(g.Total.Text, c.TotalText);
    EXPECT_EQ(g.File.FillY, c.FileY);
    EXPECT_EQ(g.File.FillHeight, 260 - c.FileY);
    EXPECT_EQ(g.File.Text, c.FileText);
    EXPECT_EQ(g.Total.TextTop, c.TotalY - 6);
    EXPECT_EQ(g.File.Marker[0].Y, c.FileY);
    EXPECT_EQ(g.File.Marker[2].Y, c.FileY + 6);
  }
}

}  // namespace
}  // namespace korvane::ui
