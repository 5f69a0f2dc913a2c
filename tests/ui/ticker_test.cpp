// Caption ticker: where the text ends and how the caption cycles.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ui/ticker.h"

namespace korvane::ui {
namespace {

std::vector<std::uint8_t> Resource(const std::string& text, std::size_t size = 528, char filler = 'z') {
  std::vector<std::uint8_t> r(size, std::uint8_t(filler));
  std::memcpy(r.data(), text.data(), std::min(text.size(), size));
  return r;
}

TEST(CaptionTickerFill, StopsAtTheDoubleTilde) {
  CaptionTicker t;
  FillCaptionTicker(t, Resource("   Korvane ~ crew~~after the marker"));
  EXPECT_STREQ(t.Text, "   Korvane ~ crew");
}

TEST(CaptionTickerFill, WithoutMarkerTakesFiveHundredBytes) {
  CaptionTicker t;
  FillCaptionTicker(t, Resource("", 528, 'a'));
  EXPECT_EQ(std::strlen(t.Text), 500u);
}

TEST(CaptionTickerFill, TildeAtTheLastPositionIsText) {
  CaptionTicker t;
  auto r = Resource("", 528, 'a');
  r[499] = '~';
  r[500] = '~';
  FillCaptionTicker(t, r);
  EXPECT_EQ(std::strlen(t.Text), 500u);
  EXPECT_EQ(t.Text[499], '~');
}

TEST(CaptionTickerFill, ShortResourceIsNotReadPastItsEnd) {
  CaptionTicker t;
  std::memset(t.Text, 'x', sizeof t.Text - 1);
  FillCaptionTicker(t, Resource("abc~", 4));
  EXPECT_STREQ(t.Text, "abc~");
}

TEST(CaptionTickerStep, CyclesThroughLengthPlusOneCaptions) {
  CaptionTicker t;
  FillCaptionTicker(t, Resource("ABCD~~"));
  std::vector<std::string> seen;
  for (int i = 0; i < 10; ++i) seen.emplace_back(StepCaptionTicker(t));
  const std::vector<std::string> expect = {"ABCD", "BCD", "CD", "D", "", "ABCD", "BCD", "CD", "D", ""};
  EXPECT_EQ(seen, expect);
}

TEST(CaptionTickerStep, OutOfRangeStartIndexStartsOver) {
  CaptionTicker t;
  FillCaptionTicker(t, Resource("AB~~"));
  t.StartIndex = 40;
  EXPECT_STREQ(StepCaptionTicker(t), "AB");
  t.StartIndex = -3;
  EXPECT_STREQ(StepCaptionTicker(t), "AB");
}

}  // namespace
}  // namespace korvane::ui
