// The main window's buttons (layout, hit tests, states, images), the caption ticker and the
// progress gauges.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ui/buttons.h"
#include "ui/gauge.h"
#include "ui/ticker.h"

namespace korvane::ui {
namespace {

using S = ButtonState;
using D = DrawRequest;

// NFO (rows 150 to 199 at the original size) and Exit (from 198) overlap by two rows.
TEST(LayoutButtons, ScalesTheBackgroundPlaces) {
  const struct {
    int W, H, X, Width, Height;
    std::array<int, 4> Y;
  } cases[] = {{296, 300, 135, 148, 50, {50, 100, 150, 198}},
               {592, 600, 270, 296, 100, {100, 200, 300, 396}},
               // Half size: the float constants lie a hair above 1/296 and 1/300, so 67.5 and
               // 98.9 round up to 68 and 99.
               {148, 150, 68, 74, 25, {25, 50, 75, 99}},
               {444, 450, 203, 222, 75, {75, 150, 225, 297}},
               {0, 0, 0, 0, 0, {0, 0, 0, 0}}};
  for (const auto& c : cases) {
    const auto rects = LayoutButtons(c.W, c.H);
    for (std::size_t i = 0; i < kButtonCount; ++i)
      EXPECT_EQ(rects[i], (ScreenRect{c.X, c.Y[i], c.Width, c.Height})) << c.W << " button " << i;
  }
}

TEST(ButtonStates, FollowTheTransitionTable) {
  enum Event { Move, Down, Up };
  const struct {
    const char* Name;
    ButtonState From;
    Event On;
    std::uint32_t Keys;
    bool Inside;
    ButtonState To;
    DrawRequest Drawn;
    bool Click;
  } cases[] = {{"move inside from normal", S::Normal, Move, 0, true, S::Hover, D::Hover, false},
               {"move inside again redraws", S::Hover, Move, 0, true, S::Hover, D::Hover, false},
               {"move inside held", S::Normal, Move, 1, true, S::Pressed, D::Pressed, false},
               {"move inside held with shift", S::Hover, Move, 1 | 4, true, S::Hover, D::Hover, false},
               {"move inside right button", S::Pressed, Move, 2, true, S::Hover, D::Hover, false},
               {"move out from hover", S::Hover, Move, 0, false, S::Normal, D::Normal, false},
               {"move out from pressed", S::Pressed, Move, 1, false, S::Normal, D::Normal, false},
               {"move out while normal", S::Normal, Move, 0, false, S::Normal, D::None, false},
               {"down on hover", S::Hover, Down, 0, true, S::Pressed, D::Pressed, false},
               {"down while normal ignored", S::Normal, Down, 0, true, S::Normal, D::None, false},
               {"down outside", S::Hover, Down, 0, false, S::Hover, D::None, false},
               {"up on pressed clicks", S::Pressed, Up, 0, true, S::Normal, D::Normal, true},
               {"up on hover clicks", S::Hover, Up, 0, true, S::Normal, D::Normal, true},
               {"up while normal ignored", S::Normal, Up, 0, true, S::Normal, D::None, false},
               {"up outside", S::Pressed, Up, 0, false, S::Pressed, D::None, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ImageButton b;
    b.Screen = {100, 100, 50, 20};
    b.State = c.From;
    const std::uint16_t x = c.Inside ? 120 : 90, y = 110;
    bool clicked = false;
    const DrawRequest drawn = c.On == Move   ? ButtonMouseMove(b, c.Keys, x, y)
                              : c.On == Down ? ButtonMouseDown(b, x, y)
                                             : ButtonMouseUp(b, x, y, clicked);
    EXPECT_EQ(b.State, c.To);
    EXPECT_EQ(drawn, c.Drawn);
    EXPECT_EQ(clicked, c.Click);
  }
}

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

// Levels, texts and markers for the job states the progress window shows, ends included.
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
    EXPECT_EQ((std::vector<int>{g.Total.FillY, g.Total.FillHeight, g.Total.TextTop, g.File.FillY, g.File.FillHeight,
                                g.File.Marker[0].Y, g.File.Marker[2].Y}),
              (std::vector<int>{c.TotalY, 261 - c.TotalY, c.TotalY - 6, c.FileY, 260 - c.FileY, c.FileY, c.FileY + 6}));
    EXPECT_EQ(g.Total.Text, c.TotalText);
    EXPECT_EQ(g.File.Text, c.FileText);
  }
}

}  // namespace
}  // namespace korvane::ui
