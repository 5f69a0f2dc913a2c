// Button layout, hit tests and state transitions.
#include "ui/buttons.h"

namespace korvane::ui {
namespace {

// The single-precision values nearest to 1/296 and 1/300. sx is used at full precision
// while sy is stored as a float first; at sizes where a coordinate lands near .5 the two
// roundings decide which pixel a button edge falls on.
constexpr float kScaleX = 0.0033783785f;
constexpr float kScaleY = 0.0033333334f;

std::int32_t RoundHalfUp(double v) { return static_cast<std::int32_t>(v + 0.5); }

}  // namespace

void SetButtonSource(std::int32_t kind, ImageButton& button, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                     std::int32_t y2) {
  for (PaletteDib& image : button.Images) image = PaletteDib();
  if (kind < 0 || kind > 2) return;
  button.Sources[std::size_t(kind)] = {x1, y1, x2, y2};
}

std::array<ScreenRect, kButtonCount> LayoutButtons(std::int32_t clientWidth, std::int32_t clientHeight) {
  const double sx = double(clientWidth) * double(kScaleX);
  const float sy = static_cast<float>(double(clientHeight) * double(kScaleY));
  static constexpr std::array<int, kButtonCount> kTop = {50, 100, 150, 198};
  std::array<ScreenRect, kButtonCount> rects{};
  for (std::size_t i = 0; i < kButtonCount; ++i) {
    rects[i].X = RoundHalfUp(135 * sx);
    rects[i].Width = RoundHalfUp(148 * sx);
    rects[i].Height = RoundHalfUp(50 * double(sy));
    rects[i].Y = RoundHalfUp(kTop[i] * double(sy));
  }
  return rects;
}

bool HitButton(const ScreenRect& rect, std::uint16_t x, std::uint16_t y) {
  // 64-bit sums: a rectangle near the top of the coordinate range must not wrap.
  return x >= rect.X && std::int64_t(x) < std::int64_t(rect.X) + rect.Width && y >= rect.Y &&
         std::int64_t(y) < std::int64_t(rect.Y) + rect.Height;
}

DrawRequest ButtonMouseMove(ImageButton& button, std::uint32_t keyState, std::uint16_t x, std::uint16_t y) {
  if (HitButton(button.Screen, x, y)) {
    // Redrawn on every move inside, whatever the state: a repaint may have put the Normal
    // image back without changing the state.
    if (keyState == kLeftButtonOnly) {
      button.State = ButtonState::Pressed;
      return DrawRequest::Pressed;
    }
    button.State = ButtonState::Hover;
    return DrawRequest::Hover;
  }
  if (button.State == ButtonState::Normal) return DrawRequest::None;
  button.State = ButtonState::Normal;
  return DrawRequest::Normal;
}

DrawRequest ButtonMouseDown(ImageButton& button, std::uint16_t x, std::uint16_t y) {
  if (!HitButton(button.Screen, x, y) || button.State == ButtonState::Normal) return DrawRequest::None;
  button.State = ButtonState::Pressed;
  return DrawRequest::Pressed;
}

DrawRequest ButtonMouseUp(ImageButton& button, std::uint16_t x, std::uint16_t y, bool& clicked) {
  clicked = false;
  if (!HitButton(button.Screen, x, y) || button.State == ButtonState::Normal) return DrawRequest::None;
  button.State = ButtonState::Normal;
  clicked = true;
  return DrawRequest::Normal;
}

}  // namespace korvane::ui
