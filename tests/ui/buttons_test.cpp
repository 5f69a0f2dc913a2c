// Button layout at several client sizes, hit tests and the button state machine.
#include <gtest/gtest.h>

#include "ui/buttons.h"

namespace korvane::ui {
namespace {

struct LayoutCase {
  int W, H, X, Width, Height;
  std::array<int, 4> Y;
};
class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, ScalesTheBackgroundPlaces) {
  const auto c = GetParam();
  const auto rects = LayoutButtons(c.W, c.H);
  for (std::size_t i = 0; i < kButtonCount; ++i) {
    EXPECT_EQ(rects[i], (ScreenRect{c.X, c.Y[i], c.Width, c.Height})) << "button " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Layout,
    ::testing::Values(LayoutCase{296, 300, 135, 148, 50, {50, 100, 150, 198}},
                      LayoutCase{592, 600, 270, 296, 100, {100, 200, 300, 396}},
                      // Half size: the float constants lie a hair above 1/296 and 1/300, so
                      // 67.5 and 98.9 round up to 68 and 99.
                      LayoutCase{148, 150, 68, 74, 25, {25, 50, 75, 99}},
                      LayoutCase{444, 450, 203, 222, 75, {75, 150, 225, 297}},
                      LayoutCase{0, 0, 0, 0, 0, {0, 0, 0, 0}}));

// Edges are half open; NFO and Exit share two rows; a doubled window doubles the hit areas.
TEST(HitButton, EdgesOverlapAndScale) {
  const ScreenRect r{135, 50, 148, 50};
  for (const auto& [x, y, hit] : {std::tuple{135, 50, true}, {282, 99, true}, {134, 50, false}, {283, 60, false},
                                  {200, 100, false}, {200, 49, false}})
    EXPECT_EQ(HitButton(r, std::uint16_t(x), std::uint16_t(y)), hit) << x << "," << y;
  const auto small = LayoutButtons(296, 300), big = LayoutButtons(592, 600);
  for (std::uint16_t y : {198, 199}) EXPECT_TRUE(HitButton(small[kNfoButton], 200, y) && HitButton(small[kExitButton], 200, y));
  EXPECT_FALSE(HitButton(small[kNfoButton], 200, 200));
  EXPECT_FALSE(HitButton(small[kExitButton], 200, 197));
  for (std::size_t i = 0; i < kButtonCount; ++i) {
    EXPECT_TRUE(HitButton(big[i], std::uint16_t(2 * small[i].X), std::uint16_t(2 * small[i].Y)));
    EXPECT_TRUE(HitButton(big[i], std::uint16_t(2 * (small[i].X + small[i].Width) - 1), std::uint16_t(2 * small[i].Y + 1)));
  }
}

ImageButton Placed(ButtonState state) {
  ImageButton b;
  b.Screen = {100, 100, 50, 20};
  b.State = state;
  return b;
}

struct StepCase {
  const char* Name;
  ButtonState From;
  enum { Move, Down, Up } Event;
  std::uint32_t Keys;
  bool Inside;
  ButtonState To;
  DrawRequest Drawn;
  bool Click;
};
class ButtonStep : public ::testing::TestWithParam<StepCase> {};

TEST_P(ButtonStep, FollowsTheTransitionTable) {
  const auto c = GetParam();
  ImageButton b = Placed(c.From);
  const std::uint16_t x = c.Inside ? 120 : 90, y = 110;
  bool clicked = false;
  DrawRequest drawn = DrawRequest::None;
  switch (c.Event) {
    case StepCase::Move: drawn = ButtonMouseMove(b, c.Keys, x, y); break;
    case StepCase::Down: drawn = ButtonMouseDown(b, x, y); break;
    case StepCase::Up: drawn = ButtonMouseUp(b, x, y, clicked); break;
  }
  EXPECT_EQ(b.State, c.To);
  EXPECT_EQ(drawn, c.Drawn);
  EXPECT_EQ(clicked, c.Click);
}

using S = ButtonState;
using D = DrawRequest;
INSTANTIATE_TEST_SUITE_P(
    Table, ButtonStep,
    ::testing::Values(
        StepCase{"MoveInsideFromNormal", S::Normal, StepCase::Move, 0, true, S::Hover, D::Hover, false},
        StepCase{"MoveInsideAgainRedraws", S::Hover, StepCase::Move, 0, true, S::Hover, D::Hover, false},
        StepCase{"MoveInsideHeld", S::Normal, StepCase::Move, 1, true, S::Pressed, D::Pressed, false},
        StepCase{"MoveInsideHeldWithShift", S::Hover, StepCase::Move, 1 | 4, true, S::Hover, D::Hover, false},
        StepCase{"MoveInsideRightButton", S::Pressed, StepCase::Move, 2, true, S::Hover, D::Hover, false},
        StepCase{"MoveOutFromHover", S::Hover, StepCase::Move, 0, false, S::Normal, D::Normal, false},
        StepCase{"MoveOutFromPressed", S::Pressed, StepCase::Move, 1, false, S::Normal, D::Normal, false},
        StepCase{"MoveOutWhileNormal", S::Normal, StepCase::Move, 0, false, S::Normal, D::None, false},
        StepCase{"DownOnHover", S::Hover, StepCase::Down, 0, true, S::Pressed, D::Pressed, false},
        StepCase{"DownWhileNormalIgnored", S::Normal, StepCase::Down, 0, true, S::Normal, D::None, false},
        StepCase{"DownOutside", S::Hover, StepCase::Down, 0, false, S::Hover, D::None, false},
        StepCase{"UpOnPressedClicks", S::Pressed, StepCase::Up, 0, true, S::Normal, D::Normal, true},
        StepCase{"UpOnHoverClicks", S::Hover, StepCase::Up, 0, true, S::Normal, D::Normal, true},
        StepCase{"UpWhileNormalIgnored", S::Normal, StepCase::Up, 0, true, S::Normal, D::None, false},
        StepCase{"UpOutside", S::Pressed, StepCase::Up, 0, false, S::Pressed, D::None, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ButtonStates, SecondReleaseWithoutMovingDoesNothing) {
  ImageButton b = Placed(S::Normal);
  bool clicked = false;
  ButtonMouseMove(b, 0, 120, 110);
  ButtonMouseDown(b, 120, 110);
  ButtonMouseUp(b, 120, 110, clicked);
  EXPECT_TRUE(clicked);
  ButtonMouseDown(b, 120, 110);
  ButtonMouseUp(b, 120, 110, clicked);
  EXPECT_FALSE(clicked);
}

TEST(ButtonStates, DragFromOneButtonToAnotherClicksTheSecond) {
  const auto rects = LayoutButtons(296, 300);
  std::array<ImageButton, kButtonCount> buttons;
  for (std::size_t i = 0; i < kButtonCount; ++i) buttons[i].Screen = rects[i];
  auto move = [&](std::uint32_t keys, std::uint16_t x, std::uint16_t y) {
    for (auto& b : buttons) ButtonMouseMove(b, keys, x, y);
  };
  move(0, 200, 70);  // over Test
  for (auto& b : buttons) ButtonMouseDown(b, 200, 70);
  EXPECT_EQ(buttons[kTestButton].State, S::Pressed);
  move(1, 200, 120);  // dragged onto Install
  EXPECT_EQ(buttons[kTestButton].State, S::Normal);
  EXPECT_EQ(buttons[kInstallButton].State, S::Pressed);
  int clicks = 0;
  std::size_t which = kButtonCount;
  for (std::size_t i = 0; i < kButtonCount; ++i) {
    bool clicked = false;
    ButtonMouseUp(buttons[i], 200, 120, clicked);
    if (clicked) ++clicks, which = i;
  }
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(which, kInstallButton);
}

TEST(ButtonSources, BuiltImagesHaveTheRectangleSizes) {
  std::vector<std::uint8_t> picture(300 * 503 + 10, 0);
  for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = std::uint8_t(i % 251);
  std::array<std::uint8_t, 768> palette{};
  for (std::size_t id = 0; id < kButtonCount; ++id) {
    ImageButton b;
    for (int kind = 0; kind < 3; ++kind) {
      const auto& s = kButtonSources[id][std::size_t(kind)];
      SetButtonSource(kind, b, s.X1, s.Y1, s.X2, s.Y2);
    }
    for (int kind = 0; kind < 3; ++kind)
      BuildButtonImage(kind, b, picture, palette, [](auto, auto, auto) { return std::uint16_t(0); });
    for (int kind = 0; kind < 3; ++kind) {
      const auto& s = kButtonSources[id][std::size_t(kind)];
      ASSERT_TRUE(b.Images[std::size_t(kind)].Valid());
      EXPECT_EQ(b.Images[std::size_t(kind)].Width(), 148);
      EXPECT_EQ(b.Images[std::size_t(kind)].Height(), s.Y2 - s.Y1);
      EXPECT_EQ(b.Images[std::size_t(kind)].Pixels()[0], picture[std::size_t(s.Y1) * 300 + std::size_t(s.X1)]);
    }
  }
}

}  // namespace
}  // namespace korvane::ui
