#include "tools/release/preview.h"

#include <algorithm>
#include <filesystem>
#include <span>
#include <string_view>

#include "tools/release/bitmap_font.h"
#include "ui/gauge.h"
#include "ui/palette_dib.h"
#include "ui/pcx.h"
#include "ui/ticker.h"

namespace korvane::release {
namespace {

using Palette = std::span<const std::uint8_t, ui::kPcxPaletteSize>;

// The preview's own page, and the classic Windows colours of what the system draws.
constexpr Rgb kPage{36, 40, 48}, kPageText{226, 230, 236}, kPageDim{150, 158, 172}, kFrame{104, 112, 126};
constexpr Rgb kFace{192, 192, 192}, kLight{255, 255, 255}, kShadow{128, 128, 128}, kBlack{0, 0, 0};
constexpr Rgb kCaptionFrom{0, 0, 128}, kCaptionTo{16, 132, 208};
// progress_win32.cpp: the percentages in RGB(254, 254, 254), the marker with the white pen and brush.
constexpr Rgb kGaugeText{254, 254, 254}, kMarker{255, 255, 255};

constexpr std::int32_t kMargin = 12, kHeading = 14, kGap = 24;
constexpr std::int32_t kTitleBarHeight = 18;  // a caption of the classic look
constexpr std::int32_t kTileLabels = 48, kTileGapX = 12, kTileGapY = 8;
constexpr std::int32_t kTileWidth = 148, kTileHeight = 50;  // the largest source rectangle
// Where a font's capitals start below the top of its cell: the 12-pixel gauge font and the
// 13-pixel dialog font.
constexpr std::int32_t kGaugeCapTop = 2, kDialogCapTop = 3;

// progress_win32.cpp: the background is the picture's first 396 columns, and the gauge fill
// is cut from columns 400-423, rows 54-246 into a 24 x 194 image.
constexpr std::int32_t kProgressBackgroundWidth = 396;
constexpr std::int32_t kFillImageWidth = 24, kFillImageHeight = 194;
constexpr ui::PictureRect kFillSource{400, 54, 424, 247};

// ui/korvane.rc.in, IDD_PROGRESS, in dialog units.
struct DialogControl {
  std::int32_t X, Y, Width, Height;
  Rect Pixels() const { return {DialogX(X), DialogY(Y), DialogX(Width), DialogY(Height)}; }
};
constexpr DialogControl kArchiveLabel{3, 207, 61, 8}, kFileLabel{17, 221, 49, 8};
constexpr DialogControl kArchiveField{71, 207, 139, 8}, kFileField{71, 221, 153, 8};
constexpr DialogControl kAbortButton{103, 236, 50, 14};

Rgb Blend(Rgb a, Rgb b, std::int32_t at, std::int32_t of) {
  const auto mix = [&](std::uint8_t x, std::uint8_t y) {
    return static_cast<std::uint8_t>(x + (int(y) - int(x)) * at / (of > 0 ? of : 1));
  };
  return {mix(a.R, b.R), mix(a.G, b.G), mix(a.B, b.B)};
}

Rect Intersect(const Rect& a, const Rect& b) {
  const std::int32_t x1 = std::max(a.X, b.X), y1 = std::max(a.Y, b.Y);
  const std::int32_t x2 = std::min(a.X + a.Width, b.X + b.Width), y2 = std::min(a.Y + a.Height, b.Y + b.Height);
  return {x1, y1, std::max(0, x2 - x1), std::max(0, y2 - y1)};
}

void Frame(Image& out, const Rect& r, Rgb c) {
  out.Fill({r.X - 1, r.Y - 1, r.Width + 2, 1}, c);
  out.Fill({r.X - 1, r.Y + r.Height, r.Width + 2, 1}, c);
  out.Fill({r.X - 1, r.Y, 1, r.Height}, c);
  out.Fill({r.X + r.Width, r.Y, 1, r.Height}, c);
}

void Text(Image& out, std::string_view text, std::int32_t x, std::int32_t y, Rgb c, bool bold = false,
          const Rect* clip = nullptr) {
  DrawText(text, x, y, bold, [&](int px, int py) {
    if (clip == nullptr || clip->Contains(px, py)) out.Set(px, py, c);
  });
}

// A PaletteDib made as the windows make theirs: the colour table maps the picture's palette
// onto itself, as GetNearestPaletteIndex does on the palette built from it.
ui::PaletteDib CutPicture(const ui::PcxPicture& picture, std::int32_t width, std::int32_t height,
                          const ui::PictureRect& from) {
  ui::PaletteDib dib(width, height);
  ui::MapDibColors(dib, picture.Palette, [&](std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return ui::NearestPaletteIndex(picture.Palette, r, g, b);
  });
  ui::CopyPictureRect(dib, picture.Pixels, from.X1, from.Y1, from.X2, from.Y2, picture.Width());
  return dib;
}

Rgb DibColour(const ui::PaletteDib& dib, Palette palette, std::int32_t x, std::int32_t y) {
  const std::uint8_t index = dib.Pixels()[std::size_t(y) * std::size_t(dib.Width()) + std::size_t(x)];
  const std::size_t entry = std::size_t(dib.ColourIndex(index) & 0xFF) * 3;
  return {palette[entry], palette[entry + 1], palette[entry + 2]};
}

// Mirrors DrawDib (ui/win32_gdi.cpp): the DIB's source rectangle stretched over the
// destination, a rectangle of the window whose client area is `client` in out. Each
// destination pixel takes the source pixel under its centre; the system picks its rows and
// columns its own way, at most one off at these ratios.
void DrawDib(Image& out, const Rect& client, const ui::PaletteDib& dib, Palette palette, const ui::ScreenRect& to) {
  if (!dib.Valid() || to.Width < 1 || to.Height < 1) return;
  const ui::SourceRect from = ui::DibSourceRect(dib);
  if (from.Width < 1 || from.Height < 1) return;
  for (std::int32_t dy = 0; dy < to.Height; ++dy) {
    const std::int32_t sy = from.Y + std::int32_t((std::int64_t(2 * dy + 1) * from.Height) / (2 * to.Height));
    for (std::int32_t dx = 0; dx < to.Width; ++dx) {
      const std::int32_t x = client.X + to.X + dx, y = client.Y + to.Y + dy;
      if (!client.Contains(x, y)) continue;
      const std::int32_t sx = from.X + std::int32_t((std::int64_t(2 * dx + 1) * from.Width) / (2 * to.Width));
      out.Set(x, y, DibColour(dib, palette, sx, sy));
    }
  }
}

// The whole image, every column, one to one.
void Blit(Image& out, std::int32_t x, std::int32_t y, const ui::PaletteDib& dib, Palette palette) {
  for (std::int32_t r = 0; r < dib.Height(); ++r)
    for (std::int32_t c = 0; c < dib.Width(); ++c) out.Set(x + c, y + r, DibColour(dib, palette, c, r));
}

// Polygon() of a triangle with a one-pixel pen of the brush's colour: every pixel whose centre
// lies inside or on an edge.
void Triangle(Image& out, const Rect& client, const std::array<ui::GaugePoint, 3>& p, Rgb c) {
  const auto edge = [](ui::GaugePoint a, ui::GaugePoint b, std::int32_t x, std::int32_t y) {
    return std::int64_t(b.X - a.X) * (y - a.Y) - std::int64_t(b.Y - a.Y) * (x - a.X);
  };
  const auto [minX, maxX] = std::minmax({p[0].X, p[1].X, p[2].X});
  const auto [minY, maxY] = std::minmax({p[0].Y, p[1].Y, p[2].Y});
  for (std::int32_t y = minY; y <= maxY; ++y)
    for (std::int32_t x = minX; x <= maxX; ++x) {
      const std::int64_t e0 = edge(p[0], p[1], x, y), e1 = edge(p[1], p[2], x, y), e2 = edge(p[2], p[0], x, y);
      const bool inside = (e0 >= 0 && e1 >= 0 && e2 >= 0) || (e0 <= 0 && e1 <= 0 && e2 <= 0);
      if (inside && client.Contains(client.X + x, client.Y + y)) out.Set(client.X + x, client.Y + y, c);
    }
}

// A push button of the classic look; the default one has the extra black frame.
void PushButton(Image& out, const Rect& r, std::string_view label, bool isDefault) {
  out.Fill(r, kFace);
  Rect body = r;
  if (isDefault) {
    Frame(out, {r.X + 1, r.Y + 1, r.Width - 2, r.Height - 2}, kBlack);
    body = {r.X + 1, r.Y + 1, r.Width - 2, r.Height - 2};
  }
  out.Fill({body.X, body.Y, body.Width - 1, 1}, kLight);
  out.Fill({body.X, body.Y, 1, body.Height - 1}, kLight);
  out.Fill({body.X, body.Y + body.Height - 1, body.Width, 1}, kBlack);
  out.Fill({body.X + body.Width - 1, body.Y, 1, body.Height}, kBlack);
  out.Fill({body.X + 1, body.Y + body.Height - 2, body.Width - 2, 1}, kShadow);
  out.Fill({body.X + body.Width - 2, body.Y + 1, 1, body.Height - 2}, kShadow);
  Text(out, label, r.X + (r.Width - TextWidth(label)) / 2, r.Y + (r.Height - 7) / 2, kBlack);
}

// The title bar at the first tick: the caption the ticker gives first, cut with "..." where
// it meets the window's buttons as the system cuts a caption that does not fit.
void DrawTitleBar(Image& out, const Rect& bar, const Bytes& caption) {
  for (std::int32_t x = 0; x < bar.Width; ++x)
    out.Fill({bar.X + x, bar.Y, 1, bar.Height}, Blend(kCaptionFrom, kCaptionTo, x, bar.Width - 1));
  // Minimize, maximize and close, 16 x 14, the close box two pixels apart.
  const std::int32_t top = bar.Y + 2, close = bar.X + bar.Width - 2 - 16, maximize = close - 2 - 16,
                     minimize = maximize - 16;
  for (const std::int32_t x : {minimize, maximize, close}) PushButton(out, {x, top, 16, 14}, "", false);
  out.Fill({minimize + 4, top + 9, 6, 2}, kBlack);
  Frame(out, {maximize + 4, top + 4, 7, 6}, kBlack);
  out.Fill({maximize + 3, top + 3, 9, 1}, kBlack);
  for (std::int32_t i = 0; i < 7; ++i) {
    out.Fill({close + 4 + i, top + 3 + i, 2, 1}, kBlack);
    out.Fill({close + 10 - i, top + 3 + i, 2, 1}, kBlack);
  }

  ui::CaptionTicker ticker;
  ui::FillCaptionTicker(ticker, caption);
  std::string text = ui::StepCaptionTicker(ticker);
  const Rect room{bar.X + 3, bar.Y, minimize - 3 - (bar.X + 3), bar.Height};
  if (TextWidth(text, true) > room.Width) {
    while (!text.empty() && TextWidth(text + "...", true) > room.Width) text.pop_back();
    text += "...";
  }
  Text(out, text, room.X, bar.Y + (bar.Height - 7) / 2, kLight, true, &room);
}

// Mirrors InitMainWindow and PaintMainWindow (ui/main_window_win32.cpp): the background
// stretched over the client area, then each button's Normal image over its screen rectangle.
void DrawMainWindow(Image& out, const Rect& client, const ui::PcxPicture& picture,
                    const std::array<ui::ImageButton, ui::kButtonCount>& buttons) {
  const ui::PaletteDib background =
      CutPicture(picture, ui::kBackgroundWidth, ui::kBackgroundHeight, {4, 0, ui::kMainPictureRow, 300});
  DrawDib(out, client, background, picture.Palette, {0, 0, client.Width, client.Height});
  const auto screens = ui::LayoutButtons(client.Width, client.Height);
  for (std::size_t i = 0; i < ui::kButtonCount; ++i)
    DrawDib(out, client, buttons[i].Images[ui::kNormalImage], picture.Palette, screens[i]);
}

std::array<ui::ImageButton, ui::kButtonCount> MakeButtons(const ui::PcxPicture& picture) {
  std::array<ui::ImageButton, ui::kButtonCount> buttons;
  for (std::size_t id = 0; id < ui::kButtonCount; ++id) {
    for (int kind = 0; kind < 3; ++kind) {
      const ui::PictureRect& s = ui::kButtonSources[id][std::size_t(kind)];
      ui::SetButtonSource(kind, buttons[id], s.X1, s.Y1, s.X2, s.Y2);
    }
    for (int kind = 0; kind < 3; ++kind)
      ui::BuildButtonImage(kind, buttons[id], picture.Pixels, picture.Palette,
                           [&](std::uint8_t r, std::uint8_t g, std::uint8_t b) {
                             return ui::NearestPaletteIndex(picture.Palette, r, g, b);
                           });
  }
  return buttons;
}

void DrawTiles(Image& out, const PreviewLayout& layout, const ui::PcxPicture& picture,
               const std::array<ui::ImageButton, ui::kButtonCount>& buttons) {
  static constexpr const char* kKinds[3] = {"Normal", "Hover", "Pressed"};
  static constexpr const char* kNames[ui::kButtonCount] = {"Test", "Install", "NFO", "Exit"};
  for (std::size_t kind = 0; kind < 3; ++kind)
    Text(out, kKinds[kind], layout.Tiles[0][kind].X, layout.Tiles[0][kind].Y - kHeading, kPageDim);
  for (std::size_t id = 0; id < ui::kButtonCount; ++id) {
    const Rect& first = layout.Tiles[id][0];
    Text(out, kNames[id], kMargin, first.Y + (first.Height - 7) / 2, kPageText);
    for (std::size_t kind = 0; kind < 3; ++kind) {
      const Rect& tile = layout.Tiles[id][kind];
      Frame(out, tile, kFrame);
      Blit(out, tile.X, tile.Y, buttons[id].Images[kind], picture.Palette);
    }
  }
}

// Mirrors ProgressWindow::Init and DrawProgress (ui/progress_win32.cpp), then the dialog's
// own controls over the face colour below the picture.
void DrawProgressWindow(Image& out, const Rect& client, const ui::PcxPicture& picture,
                        const PreviewSamples& samples) {
  out.Fill(client, kFace);
  const ui::PaletteDib background = CutPicture(picture, kProgressBackgroundWidth, picture.Height(),
                                               {0, 0, kProgressBackgroundWidth, picture.Height()});
  DrawDib(out, client, background, picture.Palette, {0, 0, kProgressBackgroundWidth, picture.Height()});
  const ui::PaletteDib fill = CutPicture(picture, kFillImageWidth, kFillImageHeight, kFillSource);
  const ui::ProgressGauges gauges = ui::ComputeProgressGauges(kPreviewVolume, kPreviewVolumeCount, kPreviewFileShare);
  for (const ui::GaugeGeometry* g : {&gauges.Total, &gauges.File}) {
    DrawDib(out, client, fill, picture.Palette, {g->FillX, g->FillY, g->FillWidth, g->FillHeight});
    Triangle(out, client, g->Marker, kMarker);
    // TA_RIGHT | TA_TOP: the text ends at TextRight and its cell starts at TextTop.
    const std::string_view text = g->Text;
    Text(out, text, client.X + g->TextRight - TextWidth(text), client.Y + g->TextTop + kGaugeCapTop, kGaugeText,
         false, &client);
  }

  const auto place = [&](const DialogControl& c) {
    const Rect r = c.Pixels();
    return Rect{client.X + r.X, client.Y + r.Y, r.Width, r.Height};
  };
  // RTEXT labels end at their control's right edge; LTEXT fields start at its left and are cut.
  for (const auto& [control, label] : {std::pair{kArchiveLabel, "Archive Filename:"}, {kFileLabel, "X-Tracting:"}}) {
    const Rect r = place(control);
    Text(out, label, r.X + r.Width - TextWidth(label), r.Y + kDialogCapTop, kBlack, false, &client);
  }
  for (const auto& [control, value] : {std::pair{kArchiveField, &samples.ArchiveName}, {kFileField, &samples.FileName}}) {
    const Rect r = Intersect(place(control), client);
    Text(out, *value, r.X, r.Y + kDialogCapTop, kBlack, false, &r);
  }
  PushButton(out, Intersect(place(kAbortButton), client), "Abort", true);
}

// The name of the first thing in payload/; the command looks further down for a file.
std::string FirstEntryName(const ReleaseSource& source) {
  if (source.PayloadTops.empty()) return "";
  return std::filesystem::path(source.PayloadTops.front()).filename().string();
}

}  // namespace

Image::Image(std::int32_t width, std::int32_t height, Rgb fill) : Width(width), Height(height) {
  Pixels.resize(std::size_t(width) * std::size_t(height) * 3);
  for (std::size_t i = 0; i < Pixels.size(); i += 3) {
    Pixels[i] = fill.R;
    Pixels[i + 1] = fill.G;
    Pixels[i + 2] = fill.B;
  }
}

Rgb Image::At(std::int32_t x, std::int32_t y) const {
  if (x < 0 || y < 0 || x >= Width || y >= Height) return {};
  const std::size_t i = (std::size_t(y) * std::size_t(Width) + std::size_t(x)) * 3;
  return {Pixels[i], Pixels[i + 1], Pixels[i + 2]};
}

void Image::Set(std::int32_t x, std::int32_t y, Rgb c) {
  if (x < 0 || y < 0 || x >= Width || y >= Height) return;
  const std::size_t i = (std::size_t(y) * std::size_t(Width) + std::size_t(x)) * 3;
  Pixels[i] = c.R;
  Pixels[i + 1] = c.G;
  Pixels[i + 2] = c.B;
}

void Image::Fill(const Rect& r, Rgb c) {
  const Rect inside = Intersect(r, {0, 0, Width, Height});
  for (std::int32_t y = inside.Y; y < inside.Y + inside.Height; ++y)
    for (std::int32_t x = inside.X; x < inside.X + inside.Width; ++x) Set(x, y, c);
}

PreviewLayout ComputePreviewLayout() {
  PreviewLayout l;
  const std::int32_t top = kMargin + kHeading;
  l.TitleBar = {kMargin, top, DialogX(180), kTitleBarHeight};
  l.MainClient = {kMargin, top + kTitleBarHeight, DialogX(180), DialogY(196)};
  l.ProgressClient = {l.MainClient.X + l.MainClient.Width + kGap, top, DialogX(263), DialogY(252)};
  const std::int32_t windowsBottom =
      std::max(l.MainClient.Y + l.MainClient.Height, l.ProgressClient.Y + l.ProgressClient.Height);
  const std::int32_t tilesTop = windowsBottom + kGap - 4 + 2 * kHeading;
  std::int32_t right = l.ProgressClient.X + l.ProgressClient.Width, bottom = 0;
  for (std::size_t id = 0; id < ui::kButtonCount; ++id)
    for (std::size_t kind = 0; kind < 3; ++kind) {
      const ui::PictureRect& s = ui::kButtonSources[id][kind];
      Rect& t = l.Tiles[id][kind];
      t = {kMargin + kTileLabels + std::int32_t(kind) * (kTileWidth + kTileGapX),
           tilesTop + std::int32_t(id) * (kTileHeight + kTileGapY), s.X2 - s.X1, s.Y2 - s.Y1};
      right = std::max(right, t.X + t.Width);
      bottom = std::max(bottom, t.Y + t.Height);
    }
  l.Width = right + kMargin;
  l.Height = bottom + kMargin;
  return l;
}

bool RenderPreview(const ReleaseSource& source, Image& out, const PreviewSamples& samples) {
  ui::PcxPicture main, progress;
  if (!ui::DecodePcx(source.MainPicture, main) || main.Width() != ui::kMainPictureRow ||
      main.Height() < ui::kBackgroundHeight || !ui::DecodePcx(source.ProgressPicture, progress))
    return false;
  PreviewSamples texts = samples;
  if (texts.ArchiveName.empty()) texts.ArchiveName = source.ArchiveName;
  if (texts.FileName.empty()) texts.FileName = FirstEntryName(source);

  const PreviewLayout layout = ComputePreviewLayout();
  out = Image(layout.Width, layout.Height, kPage);
  Text(out, "Main window, at the first tick of the caption", layout.TitleBar.X, kMargin, kPageText);
  Text(out, "Progress window, both gauges at 40%", layout.ProgressClient.X, kMargin, kPageText);
  Text(out, "The buttons in their three states", kMargin, layout.Tiles[0][0].Y - 2 * kHeading, kPageText);

  Frame(out, {layout.TitleBar.X, layout.TitleBar.Y, layout.TitleBar.Width,
              layout.TitleBar.Height + layout.MainClient.Height}, kFrame);
  DrawTitleBar(out, layout.TitleBar, source.Caption);
  const auto buttons = MakeButtons(main);
  DrawMainWindow(out, layout.MainClient, main, buttons);
  DrawTiles(out, layout, main, buttons);
  Frame(out, layout.ProgressClient, kFrame);
  DrawProgressWindow(out, layout.ProgressClient, progress, texts);
  return true;
}

}  // namespace korvane::release
