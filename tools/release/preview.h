// What a user will see of a release, drawn without Windows into one picture: the main window
// with its title bar at the first tick of the caption, the four buttons in their three states,
// and the progress window with both gauges at 40%. The geometry is the installer's own
// (ui/buttons.h, ui/gauge.h, ui/ticker.h); what lives only in the Windows painting code is
// mirrored here and says which file it follows.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/release/release_source.h"
#include "ui/buttons.h"

namespace korvane::release {

struct Rgb {
  std::uint8_t R = 0, G = 0, B = 0;
  bool operator==(const Rgb&) const = default;
};

struct Rect {
  std::int32_t X = 0, Y = 0, Width = 0, Height = 0;
  bool Contains(std::int32_t x, std::int32_t y) const { return x >= X && x < X + Width && y >= Y && y < Y + Height; }
};

// RGB pixels, rows top first, three bytes a pixel.
struct Image {
  std::int32_t Width = 0, Height = 0;
  std::vector<std::uint8_t> Pixels;

  Image() = default;
  Image(std::int32_t width, std::int32_t height, Rgb fill);
  Rgb At(std::int32_t x, std::int32_t y) const;    // black outside the image
  void Set(std::int32_t x, std::int32_t y, Rgb c);  // ignored outside the image
  void Fill(const Rect& r, Rgb c);
};

// The windows' client sizes from their dialog templates (ui/korvane.rc.in: IDD_MAIN 180 x 196,
// IDD_PROGRESS 263 x 252 dialog units) at the base units the 8-point dialog font gives under
// Wine, 6 x 13 pixels: 270 x 319 and 395 x 410, the sizes the installer's windows have there.
inline constexpr std::int32_t kDialogBaseX = 6, kDialogBaseY = 13;
constexpr std::int32_t DialogX(std::int32_t units) { return (units * kDialogBaseX + 2) / 4; }
constexpr std::int32_t DialogY(std::int32_t units) { return (units * kDialogBaseY + 4) / 8; }

// The job state both gauges show: volume 3 of 5 passed 2/5 of the total, and the file 40%.
inline constexpr std::int32_t kPreviewVolume = 3, kPreviewVolumeCount = 5;
inline constexpr float kPreviewFileShare = 0.4f;

// Where each part lies in the preview.
struct PreviewLayout {
  std::int32_t Width = 0, Height = 0;
  Rect TitleBar;    // the strip above the main window's client area
  Rect MainClient;  // the main window as it first shows
  Rect ProgressClient;
  std::array<std::array<Rect, 3>, ui::kButtonCount> Tiles;  // by button and ButtonKind, 1:1
};
PreviewLayout ComputePreviewLayout();
inline constexpr std::int32_t kPreviewWidth = 713, kPreviewHeight = 720;

// The texts the progress window's fields show; empty ones are taken from the source (its
// archive name, and the name of its first payload entry).
struct PreviewSamples {
  std::string ArchiveName;
  std::string FileName;
};

// Draws the whole preview into out. False when either picture does not decode as the
// installer's PCX or the main picture is not 300 pixels wide (a source that was not checked).
bool RenderPreview(const ReleaseSource& source, Image& out, const PreviewSamples& samples = {});

}  // namespace korvane::release
