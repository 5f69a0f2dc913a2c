// The main window's four picture buttons: their source rectangles in the main picture,
// their screen rectangles scaled to the client area, hit tests and the Normal / Hover /
// Pressed state machine. Drawing is left to the caller, which is told which image to draw.
#pragma once
#include <array>
#include <cstdint>
#include <span>

#include "ui/palette_dib.h"

namespace korvane::ui {

enum ButtonKind : std::int32_t { kNormalImage = 0, kHoverImage = 1, kPressedImage = 2 };
enum class ButtonState : std::int32_t { Normal = 0, Hover = 1, Pressed = 2 };
enum ButtonId : std::size_t { kTestButton = 0, kInstallButton = 1, kNfoButton = 2, kExitButton = 3 };
inline constexpr std::size_t kButtonCount = 4;

struct PictureRect {
  std::int32_t X1, Y1, X2, Y2;  // x2 and y2 excluded
};
struct ScreenRect {
  std::int32_t X, Y, Width, Height;
  bool operator==(const ScreenRect&) const = default;
};

struct ImageButton {
  std::array<PaletteDib, 3> Images;      // by ButtonKind
  std::array<PictureRect, 3> Sources{};  // by ButtonKind
  ScreenRect Screen{};
  ButtonState State = ButtonState::Normal;
};

// Row length of the main picture and the background's size inside it.
inline constexpr std::int32_t kMainPictureRow = 300;
inline constexpr std::int32_t kBackgroundWidth = 296;
inline constexpr std::int32_t kBackgroundHeight = 300;

// Source rectangles in the main picture, by button (Test, Install, NFO, Exit) and kind.
inline constexpr std::array<std::array<PictureRect, 3>, kButtonCount> kButtonSources{{
    {{{139, 50, 287, 100}, {0, 302, 148, 352}, {151, 303, 299, 353}}},
    {{{139, 100, 287, 150}, {0, 352, 148, 402}, {151, 353, 299, 403}}},
    {{{139, 150, 287, 200}, {1, 402, 149, 452}, {151, 403, 299, 453}}},
    {{{139, 198, 287, 248}, {0, 450, 148, 500}, {151, 451, 299, 499}}},
}};

// Clears the button's images and stores the rectangle for `kind`; other kinds store nothing.
void SetButtonSource(std::int32_t kind, ImageButton& button, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                     std::int32_t y2);
// Cuts the kind's image out of the main picture (row length 300) and maps its colours.
template <typename Nearest>
void BuildButtonImage(std::int32_t kind, ImageButton& button, std::span<const std::uint8_t> pixels,
                      std::span<const std::uint8_t, 768> palette, Nearest nearest) {
  if (kind < 0 || kind > 2) return;
  const PictureRect& s = button.Sources[std::size_t(kind)];
  PaletteDib image(s.X2 - s.X1, s.Y2 - s.Y1);
  MapDibColors(image, palette, nearest);
  CopyPictureRect(image, pixels, s.X1, s.Y1, s.X2, s.Y2, kMainPictureRow);
  button.Images[std::size_t(kind)] = std::move(image);
}

// Screen rectangles of the four buttons for a client area of width x height: the Normal
// rectangles' places in the 296 x 300 background, scaled as the background is stretched.
std::array<ScreenRect, kButtonCount> LayoutButtons(std::int32_t clientWidth, std::int32_t clientHeight);

// Cursor positions come from the message as unsigned 16-bit values.
bool HitButton(const ScreenRect& rect, std::uint16_t x, std::uint16_t y);

// What the caller must draw after an event; None leaves the button as drawn.
enum class DrawRequest { None = -1, Normal = 0, Hover = 1, Pressed = 2 };
inline constexpr std::uint32_t kLeftButtonOnly = 1;  // MK_LBUTTON and no other key state bit

DrawRequest ButtonMouseMove(ImageButton& button, std::uint32_t keyState, std::uint16_t x, std::uint16_t y);
DrawRequest ButtonMouseDown(ImageButton& button, std::uint16_t x, std::uint16_t y);
// Sets `clicked` when the release counts as a click of this button.
DrawRequest ButtonMouseUp(ImageButton& button, std::uint16_t x, std::uint16_t y, bool& clicked);

}  // namespace korvane::ui
