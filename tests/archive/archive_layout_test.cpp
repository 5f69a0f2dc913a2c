// The layout's shared rules where the reader and the writer must agree: DOS stamps made and split
// again, and the volume names a writer gives a set, which the reader must follow.
#include "archive/archive_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

TEST(DosStamp, SplitsIntoTheFieldsItWasMadeOfWithinTheLayoutsRange) {
  const struct {
    int In[6];
    int Out[6];
  } cases[] = {
      {{1998, 6, 13, 19, 58, 0}, {1998, 6, 13, 19, 58, 0}},
      {{2000, 2, 29, 23, 59, 59}, {2000, 2, 29, 23, 59, 58}},  // two-second steps round down
      {{1980, 1, 1, 0, 0, 0}, {1980, 1, 1, 0, 0, 0}},
      {{1979, 12, 31, 23, 59, 58}, {1980, 1, 1, 0, 0, 0}},     // before the epoch: its first day
      {{2107, 12, 31, 23, 59, 58}, {2107, 12, 31, 23, 59, 58}},
      {{2150, 3, 4, 5, 6, 8}, {2107, 3, 4, 5, 6, 8}},          // the seven year bits run out
  };
  for (const auto& c : cases) {
    const DosDateTime t = SplitDosTime(DosTime(c.In[0], c.In[1], c.In[2], c.In[3], c.In[4], c.In[5]));
    const int got[6] = {t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], c.Out[i]) << c.In[0] << "-" << c.In[1] << "-" << c.In[2] << " field " << i;
    EXPECT_TRUE(IsValidDosDateTime(t));
  }
}

TEST(VolumeNames, TheWritersNamesAreTheOnesTheReaderAdvancesTo) {
  // Sets long enough to leave .r99 behind: under a folder with a dot, from a program's name,
  // and with a name no fixed buffer of the reader's size would hold.
  const std::string longStem = "d/" + std::string(5000, 'n');
  const struct {
    std::string First, Stem;
  } cases[] = {{"disk.1/set.rar", "disk.1/set"}, {"SETUP.EXE", "SETUP"}, {longStem, longStem}};
  for (const auto& c : cases) {
    std::string name = c.First;
    for (int i = 1; i <= 102; ++i) {
      const std::string next = NextVolumeName(name);
      char buffer[64] = {};
      if (name.size() + 5 <= sizeof buffer) {
        name.copy(buffer, name.size());
        ASSERT_TRUE(AdvanceVolumeName(buffer, sizeof buffer)) << name;
        EXPECT_EQ(next, buffer);
      }
      name = next;
      if (i == 1) {
        EXPECT_EQ(name, c.Stem + ".r00");
      } else if (i == 100) {
        EXPECT_EQ(name, c.Stem + ".r99");
      }
    }
    EXPECT_EQ(name, c.Stem + ".s01");
  }
}

}  // namespace
}  // namespace korvane
