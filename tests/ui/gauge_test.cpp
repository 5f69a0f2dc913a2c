// Progress gauge geometry for the job states the progress window shows, ends included.
#include <gtest/gtest.h>

#include <string>

#include "ui/gauge.h"

namespace korvane::ui {
namespace {

TEST(Gauges, LevelsTextsAndMarkersFollowTheJob) {
  const struct {
    int currentVolume, volumeCount;
    float fileProgress;
    int totalY;
    std::string totalText;
    int fileY;
    std::string fileText;
  } cases[] = {{1, 54, 0.0f, 261, "0%", 260, "0%"},
               {28, 54, 0.37f, 159, "50%", 184, "37%"},
               {55, 54, 1.0f, 58, "100%", 57, "100%"},
               {80, 54, 1.5f, 58, "100%", 57, "100%"},  // more volumes than announced
               {5, 0, -0.5f, 261, "0%", 260, "0%"}};    // no volume count
  for (const auto& c : cases) {
    SCOPED_TRACE(c.currentVolume);
    const ProgressGauges g = ComputeProgressGauges(c.currentVolume, c.volumeCount, c.fileProgress);
    EXPECT_EQ(g.total.fillY, c.totalY);
    EXPECT_EQ(g.total.fillHeight, 261 - c.totalY);
    EXPECT_EQ(g.total.text, c.totalText);
    EXPECT_EQ(g.file.fillY, c.fileY);
    EXPECT_EQ(g.file.fillHeight, 260 - c.fileY);
    EXPECT_EQ(g.file.text, c.fileText);
    EXPECT_EQ(g.total.textTop, c.totalY - 6);
    EXPECT_EQ(g.file.marker[0].y, c.fileY);
    EXPECT_EQ(g.file.marker[2].y, c.fileY + 6);
  }
}

}  // namespace
}  // namespace korvane::ui
