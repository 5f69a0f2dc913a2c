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

TEST(CaptionTicker, TextEndsAtTheMarkerOr500CharactersOrTheResource) {
  std::vector<std::uint8_t> tildeLast = Resource("", 528, 'a');
  tildeLast[499] = tildeLast[500] = '~';  // a "~" at the last position counts as text
  const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
      {Resource("   Korvane ~ crew~~after the marker"), "   Korvane ~ crew"},
      {Resource("", 528, 'a'), std::string(500, 'a')},
      {tildeLast, std::string(499, 'a') + "~"},
      {Resource("abc~", 4), "abc~"}};  // not read past its end
  for (const auto& [resource, text] : cases) {
    CaptionTicker t;
    std::memset(t.Text, 'x', sizeof t.Text - 1);
    FillCaptionTicker(t, resource);
    EXPECT_EQ(t.Text, text);
  }
}

TEST(CaptionTicker, CyclesThroughLengthPlusOneCaptionsAndStartsOverOutOfRange) {
  CaptionTicker t;
  FillCaptionTicker(t, Resource("ABCD~~"));
  std::vector<std::string> seen;
  for (int i = 0; i < 10; ++i) seen.emplace_back(StepCaptionTicker(t));
  EXPECT_EQ(seen, (std::vector<std::string>{"ABCD", "BCD", "CD", "D", "", "ABCD", "BCD", "CD", "D", ""}));
  for (const int start : {40, -3}) {
    t.StartIndex = start;
    EXPECT_STREQ(StepCaptionTicker(t), "ABCD");
  }
}

}  // namespace
}  // namespace korvane::ui
