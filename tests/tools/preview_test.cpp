// The release preview drawn from the project's own assets/: each part shows the pixels the
// installer's windows take from the pictures, at the places its own layout code gives; the
// PNG reader takes palette pictures only and survives damaged files; the command writes what
// the renderer draws.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/corpus.h"
#include "tests/tools/tool_run.h"
#include "tools/release/bitmap_font.h"
#include "tools/release/png_io.h"
#include "tools/release/preview.h"
#include "tools/release/release_source.h"
#include "ui/buttons.h"
#include "ui/gauge.h"
#include "ui/pcx.h"

namespace korvane::release {
namespace {

namespace fs = std::filesystem;
using korvane::testing::ReadWholeFile;
using korvane::testing::TempDir;
using korvane::testing::WriteWholeFile;

std::string SourceTree() {
  const char* source = std::getenv("KORVANE_SOURCE");
  return source != nullptr ? source : ".";
}
std::string Assets() { return (fs::path(SourceTree()) / "assets").string(); }

const ReleaseSource& OwnRelease() {
  static const ReleaseSource source = [] {
    std::vector<Problem> problems;
    ReleaseSource s = ReadReleaseSource(Assets(), problems);
    for (const Problem& p : problems) ADD_FAILURE() << p.File << ": " << p.What;
    return s;
  }();
  return source;
}

Image Render(const ReleaseSource& source) {
  Image out;
  EXPECT_TRUE(RenderPreview(source, out));
  return out;
}
const Image& OwnPreview() {
  static const Image image = Render(OwnRelease());
  return image;
}

// A picture decoded here, its colours looked up in its own palette.
struct Picture {
  ui::PcxPicture Pcx;
  explicit Picture(const Bytes& file) { EXPECT_TRUE(ui::DecodePcx(file, Pcx)); }
  Rgb At(int x, int y) const {
    const std::size_t i = std::size_t(Pcx.Pixels[std::size_t(y) * std::size_t(Pcx.Width()) + std::size_t(x)]) * 3;
    return {Pcx.Palette[i], Pcx.Palette[i + 1], Pcx.Palette[i + 2]};
  }
};

// Does out at (x, y) show a picture pixel near the one that (sx, sy) names proportionally?
// The system's stretch may pick a neighbour of the exact one.
bool ShowsNear(const Image& out, int x, int y, const Picture& p, double sx, double sy, const Rect& source) {
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      const int px = std::clamp(int(sx) + dx, source.X, source.X + source.Width - 1);
      const int py = std::clamp(int(sy) + dy, source.Y, source.Y + source.Height - 1);
      if (out.At(x, y) == p.At(px, py)) return true;
    }
  return false;
}

std::pair<int, int> PngSize(const std::string& path) {
  const Bytes b = ReadWholeFile(path);
  if (b.size() < 24) return {0, 0};
  const auto be = [&](std::size_t at) { return int(b[at]) << 24 | int(b[at + 1]) << 16 | int(b[at + 2]) << 8 | b[at + 3]; };
  return {be(16), be(20)};
}

TEST(Preview, HasItsSizeAndTheWindowsTheSizesTheyHaveUnderWine) {
  const PreviewLayout layout = ComputePreviewLayout();
  EXPECT_EQ(OwnPreview().Width, kPreviewWidth);
  EXPECT_EQ(OwnPreview().Height, kPreviewHeight);
  EXPECT_EQ(layout.Width, kPreviewWidth);
  EXPECT_EQ(layout.Height, kPreviewHeight);
  // The screenshots of the installer under Wine are of the windows' client areas.
  const auto docs = fs::path(SourceTree()) / "docs" / "screenshots";
  EXPECT_EQ(PngSize((docs / "main-window.png").string()),
            std::make_pair(layout.MainClient.Width, layout.MainClient.Height));
  EXPECT_EQ(PngSize((docs / "progress-window.png").string()),
            std::make_pair(layout.ProgressClient.Width, layout.ProgressClient.Height));
  EXPECT_EQ(layout.TitleBar.Width, layout.MainClient.Width);
  EXPECT_EQ(layout.TitleBar.Y + layout.TitleBar.Height, layout.MainClient.Y);

  std::vector<Rect> parts = {layout.TitleBar, layout.MainClient, layout.ProgressClient};
  for (const auto& row : layout.Tiles) parts.insert(parts.end(), row.begin(), row.end());
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const Rect& a = parts[i];
    EXPECT_TRUE(a.X >= 0 && a.Y >= 0 && a.X + a.Width <= layout.Width && a.Y + a.Height <= layout.Height) << i;
    for (std::size_t j = i + 1; j < parts.size(); ++j) {
      const Rect& b = parts[j];
      EXPECT_TRUE(a.X + a.Width <= b.X || b.X + b.Width <= a.X || a.Y + a.Height <= b.Y || b.Y + b.Height <= a.Y)
          << i << " overlaps " << j;
    }
  }
}

TEST(Preview, MainWindowShowsTheBackgroundWithTheNormalButtons) {
  const Picture main(OwnRelease().MainPicture);
  const Image& out = OwnPreview();
  const Rect client = ComputePreviewLayout().MainClient;
  const auto buttons = ui::LayoutButtons(client.Width, client.Height);
  // The window shows background columns 5-299 (column 0 of its 296-wide image, picture
  // column 4, never shows) and rows 0-299; a button shows its Normal image from column 1 on.
  const Rect background{5, 0, 295, 300};
  int mismatches = 0, checked = 0;
  for (int y = 0; y < client.Height; ++y)
    for (int x = 0; x < client.Width; ++x) {
      double sx = background.X + (x + 0.5) * background.Width / client.Width;
      double sy = background.Y + (y + 0.5) * background.Height / client.Height;
      Rect source = background;
      for (std::size_t b = 0; b < ui::kButtonCount; ++b) {
        const ui::ScreenRect& s = buttons[b];
        if (x < s.X || x >= s.X + s.Width || y < s.Y || y >= s.Y + s.Height) continue;
        const ui::PictureRect& n = ui::kButtonSources[b][ui::kNormalImage];
        source = {n.X1 + 1, n.Y1, n.X2 - n.X1 - 1, n.Y2 - n.Y1};
        sx = source.X + (x - s.X + 0.5) * source.Width / s.Width;
        sy = source.Y + (y - s.Y + 0.5) * source.Height / s.Height;
      }
      ++checked;
      if (!ShowsNear(out, client.X + x, client.Y + y, main, sx, sy, source) && ++mismatches <= 5)
        ADD_FAILURE() << "client pixel " << x << ", " << y << " is not the picture's near " << sx << ", " << sy;
    }
  EXPECT_EQ(mismatches, 0) << "of " << checked;
}

TEST(Preview, TilesAreTheButtonImagesOneToOne) {
  const Picture main(OwnRelease().MainPicture);
  const Image& out = OwnPreview();
  const PreviewLayout layout = ComputePreviewLayout();
  for (std::size_t b = 0; b < ui::kButtonCount; ++b)
    for (std::size_t kind = 0; kind < 3; ++kind) {
      const ui::PictureRect& s = ui::kButtonSources[b][kind];
      const Rect& tile = layout.Tiles[b][kind];
      ASSERT_EQ(tile.Width, s.X2 - s.X1);
      ASSERT_EQ(tile.Height, s.Y2 - s.Y1);
      int wrong = 0;
      for (int y = 0; y < tile.Height; ++y)
        for (int x = 0; x < tile.Width; ++x) wrong += out.At(tile.X + x, tile.Y + y) != main.At(s.X1 + x, s.Y1 + y);
      EXPECT_EQ(wrong, 0) << "button " << b << " kind " << kind;
    }
}

TEST(Preview, GaugesStandAtFortyPercentWithTheWholeGradient) {
  const Picture progress(OwnRelease().ProgressPicture);
  const Image& out = OwnPreview();
  const Rect client = ComputePreviewLayout().ProgressClient;
  // The gradient: picture columns 400-423, rows 54-246.
  const auto coloursOf = [&](int fromRow, int toRow) {
    std::set<std::tuple<int, int, int>> colours;
    for (int y = fromRow; y <= toRow; ++y)
      for (int x = 400; x < 424; ++x) {
        const Rgb c = progress.At(x, y);
        colours.insert({c.R, c.G, c.B});
      }
    return colours;
  };
  const auto gradient = coloursOf(54, 246), top = coloursOf(54, 58), bottom = coloursOf(242, 246);
  const auto in = [](const std::set<std::tuple<int, int, int>>& set, Rgb c) { return set.count({c.R, c.G, c.B}) > 0; };

  const ui::ProgressGauges gauges = ui::ComputeProgressGauges(kPreviewVolume, kPreviewVolumeCount, kPreviewFileShare);
  for (const ui::GaugeGeometry* g : {&gauges.Total, &gauges.File}) {
    EXPECT_STREQ(g->Text, "40%");
    const int x = client.X + g->FillX + g->FillWidth / 2, base = client.Y + g->FillY + g->FillHeight;
    int run = 0;
    while (run < base - client.Y && in(gradient, out.At(x, base - 1 - run))) ++run;
    EXPECT_EQ(run, g->FillHeight) << "at x " << g->FillX;
    EXPECT_TRUE(in(top, out.At(x, client.Y + g->FillY))) << "the fill starts with the gradient's top";
    EXPECT_TRUE(in(bottom, out.At(x, base - 1))) << "the fill ends with the gradient's bottom";

    const ui::GaugePoint tip = g->Marker[0];
    EXPECT_EQ(out.At(client.X + tip.X - 1, client.Y + tip.Y), (Rgb{255, 255, 255})) << "marker";
    int textPixels = 0, strayPixels = 0;
    for (int y = g->TextTop; y < g->TextTop + 12; ++y) {
      for (int tx = g->TextRight - 30; tx < g->TextRight; ++tx)
        textPixels += out.At(client.X + tx, client.Y + y) == Rgb{254, 254, 254};
      for (int tx = g->TextRight; tx < tip.X - 5; ++tx)
        strayPixels += out.At(client.X + tx, client.Y + y) == Rgb{254, 254, 254};
    }
    EXPECT_GT(textPixels, 10) << "the percentage stands left of its right edge";
    EXPECT_EQ(strayPixels, 0);
  }
}

std::vector<Rgb> Strip(const Image& image) {
  const Rect bar = ComputePreviewLayout().TitleBar;
  std::vector<Rgb> pixels;
  for (int y = bar.Y; y < bar.Y + bar.Height; ++y)
    for (int x = bar.X; x < bar.X + bar.Width; ++x) pixels.push_back(image.At(x, y));
  return pixels;
}

TEST(Preview, TitleBarShowsTheCaptionUpToItsMarker) {
  // The resource as the release makes it: the text, the marker, zeros up to 528 bytes.
  const auto resource = [](const std::string& text) {
    Bytes bytes(kCaptionBytes, 0);
    std::copy(text.begin(), text.end(), bytes.begin());
    return bytes;
  };
  const auto withCaption = [&](const std::string& text) {
    ReleaseSource source = OwnRelease();
    source.Caption = resource(text);
    return Strip(Render(source));
  };
  EXPECT_NE(Strip(OwnPreview()), withCaption("~~")) << "the caption is drawn";
  // Another caption changes the title bar and nothing else.
  ReleaseSource other = OwnRelease();
  other.Caption = resource("~~");
  const Image second = Render(other);
  const Rect bar = ComputePreviewLayout().TitleBar;
  int inBar = 0, elsewhere = 0;
  for (int y = 0; y < second.Height; ++y)
    for (int x = 0; x < second.Width; ++x)
      if (second.At(x, y) != OwnPreview().At(x, y)) ++(bar.Contains(x, y) ? inBar : elsewhere);
  EXPECT_GT(inBar, 50);
  EXPECT_EQ(elsewhere, 0);
  EXPECT_NE(withCaption("KORVANE~~"), withCaption("INSTALL~~"));
  EXPECT_NE(withCaption("XKORVANE~~"), withCaption("YKORVANE~~")) << "the first tick shows the first character";
  EXPECT_EQ(withCaption("KORVANE~~"), withCaption("KORVANE~~ and what follows")) << "nothing after the marker";
  EXPECT_EQ(withCaption(std::string(300, 'W') + "~~"), withCaption(std::string(300, 'W') + "X~~"))
      << "a caption longer than the bar is cut";
}

TEST(Preview, RefusesPicturesThatDoNotDecode) {
  ReleaseSource source = OwnRelease();
  source.ProgressPicture.resize(100);
  Image out;
  EXPECT_FALSE(RenderPreview(source, out));
}

TEST(BitmapFont, EveryPrintableCharacterHasAGlyphOfItsOwnInsideItsCell) {
  std::set<GlyphBits> seen;
  for (int ch = 0x21; ch <= 0x7E; ++ch) {
    const GlyphBits& g = Glyph(static_cast<unsigned char>(ch));
    EXPECT_TRUE(seen.insert(g).second) << "'" << char(ch) << "' looks like another character";
    int minX = 99, maxX = -1, minY = 99, maxY = -1;
    DrawText(std::string(1, char(ch)), 10, 20, false, [&](int x, int y) {
      minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
    });
    EXPECT_EQ(minX, 10) << "'" << char(ch) << "' starts at its pen position";
    EXPECT_LT(maxX, 10 + TextWidth(std::string(1, char(ch))) - 1) << "'" << char(ch) << "' keeps a gap after it";
    EXPECT_TRUE(minY >= 20 && maxY < 20 + kGlyphRows) << char(ch);
  }
  EXPECT_NE(Glyph(0x7F), Glyph(' ')) << "other bytes are visible";
  EXPECT_EQ(TextWidth("Ai"), TextWidth("A") + TextWidth("i"));
  EXPECT_EQ(TextWidth("Ai", true), TextWidth("Ai") + 2);
}

// PNG pictures written here with libpng's own calls, for the reader to read.
struct PaletteCase {
  const char* What;
  int Width, Height, Depth, Colours;
  bool Interlaced;
};

Bytes WritePalettePng(const PaletteCase& c, const std::vector<std::uint8_t>& indices,
                      const std::vector<png_color>& palette, int type = PNG_COLOR_TYPE_PALETTE,
                      bool anyIndex = false) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  Bytes out;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(
      png, &out, [](png_structp p, png_bytep d, png_size_t n) {
        auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
        o->insert(o->end(), d, d + n);
      },
      nullptr);
  png_set_IHDR(png, info, png_uint_32(c.Width), png_uint_32(c.Height), c.Depth, type,
               c.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette.data(), int(palette.size()));
  if (anyIndex) png_set_check_for_invalid_index(png, 0);
  png_write_info(png, info);
  if (c.Depth < 8) png_set_packing(png);
  int passes = png_set_interlace_handling(png);
  std::vector<std::uint8_t> rows(indices);
  for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < c.Height; ++y) png_write_row(png, rows.data() + std::size_t(y) * std::size_t(c.Width));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::vector<png_color> MakePalette(int colours) {
  std::vector<png_color> palette;
  for (int i = 0; i < colours; ++i)
    palette.push_back({std::uint8_t(i * 7 + 3), std::uint8_t(255 - i), std::uint8_t(i * 13)});
  return palette;
}

std::vector<std::uint8_t> MakeIndices(const PaletteCase& c) {
  std::vector<std::uint8_t> indices;
  for (int y = 0; y < c.Height; ++y)
    for (int x = 0; x < c.Width; ++x) indices.push_back(std::uint8_t((x * 5 + y * 3 + x * y) % c.Colours));
  return indices;
}

const Bytes& SmallPalettePng() {
  static const Bytes png = [] {
    const PaletteCase c{"", 13, 7, 8, 200, false};
    return WritePalettePng(c, MakeIndices(c), MakePalette(c.Colours));
  }();
  return png;
}

TEST(PalettePng, ReadsEveryDepthBackExactly) {
  const PaletteCase cases[] = {
      {"8 bits, 256 colours", 31, 17, 8, 256, false},
      {"8 bits, interlaced", 31, 17, 8, 256, true},
      {"4 bits, odd width", 13, 9, 4, 16, false},
      {"2 bits, 3 colours", 7, 5, 2, 3, false},
      {"1 bit, interlaced", 9, 11, 1, 2, true},
      {"one pixel", 1, 1, 8, 1, false},
  };
  for (const PaletteCase& c : cases) {
    const std::vector<std::uint8_t> indices = MakeIndices(c);
    const std::vector<png_color> palette = MakePalette(c.Colours);
    const Bytes file = WritePalettePng(c, indices, palette);
    ASSERT_FALSE(file.empty()) << c.What;
    int width = 0, height = 0;
    std::vector<std::uint8_t> read;
    std::array<std::uint8_t, 768> colours;
    colours.fill(0xAA);
    std::string error;
    ASSERT_TRUE(ReadPalettePng(file, &width, &height, &read, &colours, &error)) << c.What << ": " << error;
    EXPECT_EQ(width, c.Width) << c.What;
    EXPECT_EQ(height, c.Height) << c.What;
    EXPECT_EQ(read, indices) << c.What;
    for (int i = 0; i < 256; ++i) {
      const png_color want = i < c.Colours ? palette[std::size_t(i)] : png_color{0, 0, 0};
      EXPECT_EQ(colours[std::size_t(3 * i)], want.red) << c.What << " entry " << i;
      EXPECT_EQ(colours[std::size_t(3 * i + 1)], want.green) << c.What << " entry " << i;
      EXPECT_EQ(colours[std::size_t(3 * i + 2)], want.blue) << c.What << " entry " << i;
    }
  }
}

// ImageMagick's PNG8 of the real picture, as a packager would make it, has its colours.
TEST(PalettePng, ReadsImageMagicksPaletteCopyOfThePicture) {
  TempDir dir;
  const std::string png = dir.File("main.png");
  const std::string pcx = (fs::path(Assets()) / "main.pcx").string();
  ASSERT_EQ(std::system(("convert '" + pcx + "' PNG8:'" + png + "'").c_str()), 0);
  int width = 0, height = 0;
  std::vector<std::uint8_t> indices;
  std::array<std::uint8_t, 768> palette{};
  std::string error;
  ASSERT_TRUE(ReadPalettePng(ReadWholeFile(png), &width, &height, &indices, &palette, &error)) << error;
  const Picture main(ReadWholeFile(pcx));
  ASSERT_EQ(width, main.Pcx.Width());
  ASSERT_EQ(height, main.Pcx.Height());
  int wrong = 0;
  for (int i = 0; i < width * height; ++i) {
    const std::size_t at = std::size_t(indices[std::size_t(i)]) * 3;
    wrong += Rgb{palette[at], palette[at + 1], palette[at + 2]} != main.At(i % width, i / width);
  }
  EXPECT_EQ(wrong, 0);
}

TEST(PalettePng, RefusesTrueColourAndGreyWithTheConversionHint) {
  std::vector<std::uint8_t> rgb(5 * 4 * 3), rgba(5 * 4 * 4);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = std::uint8_t(i * 11);
  Bytes fromRgb, fromRgba;
  std::string error;
  ASSERT_TRUE(EncodePng(5, 4, 3, rgb, &fromRgb, &error)) << error;
  ASSERT_TRUE(EncodePng(5, 4, 4, rgba, &fromRgba, &error)) << error;
  const PaletteCase grey{"", 5, 4, 8, 256, false};
  const struct {
    const char* What;
    Bytes File;
    const char* Says;
  } rows[] = {
      {"RGB", fromRgb, "true-colour"},
      {"RGBA", fromRgba, "true-colour"},
      {"grey", WritePalettePng(grey, MakeIndices(grey), {}, PNG_COLOR_TYPE_GRAY), "greyscale"},
  };
  for (const auto& row : rows) {
    int width = 0, height = 0;
    std::vector<std::uint8_t> indices;
    std::array<std::uint8_t, 768> palette{};
    std::string message;
    EXPECT_FALSE(ReadPalettePng(row.File, &width, &height, &indices, &palette, &message)) << row.What;
    EXPECT_NE(message.find(row.Says), std::string::npos) << row.What << ": " << message;
    EXPECT_NE(message.find(kPalettePngHint), std::string::npos) << row.What << ": " << message;
  }
}

// The chunk CRC of PNG (ISO 3309, reflected 0xEDB88320).
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

TEST(PalettePng, DamagedFilesGiveAMessageAndNoPicture) {
  const Bytes& good = SmallPalettePng();
  std::vector<std::pair<std::string, Bytes>> damaged;
  for (std::size_t n = 0; n + 1 < good.size(); ++n) damaged.push_back({"cut at " + std::to_string(n), Bytes(good.begin(), good.begin() + n)});
  // A byte of every chunk flipped in turn, from the header on: CRCs no longer match.
  for (std::size_t at = 16; at < good.size(); at += 5) {
    Bytes b = good;
    b[at] ^= 0x40;
    damaged.push_back({"byte " + std::to_string(at) + " flipped", b});
  }
  damaged.push_back({"not a PNG", Bytes(200, 'x')});
  // A header asking for 100000 x 100000 pixels, its CRC made right.
  Bytes huge = good;
  for (const std::size_t at : {16u, 20u}) {
    huge[at] = 0, huge[at + 1] = 0x01, huge[at + 2] = 0x86, huge[at + 3] = 0xA0;
  }
  const std::uint32_t crc = Crc32(huge.data() + 12, 17);
  for (int i = 0; i < 4; ++i) huge[29 + std::size_t(i)] = std::uint8_t(crc >> (24 - 8 * i));
  damaged.push_back({"too large", huge});
  // An index past the end of a 4-colour palette.
  const PaletteCase small{"", 3, 2, 8, 4, false};
  std::vector<std::uint8_t> beyond = MakeIndices(small);
  beyond[4] = 9;
  damaged.push_back({"index past the palette", WritePalettePng(small, beyond, MakePalette(4), PNG_COLOR_TYPE_PALETTE, true)});
  ASSERT_FALSE(damaged.back().second.empty());

  for (const auto& [what, bytes] : damaged) {
    int width = -1, height = -1;
    std::vector<std::uint8_t> indices;
    std::array<std::uint8_t, 768> palette{};
    std::string error;
    EXPECT_FALSE(ReadPalettePng(bytes, &width, &height, &indices, &palette, &error)) << what;
    EXPECT_FALSE(error.empty()) << what;
    EXPECT_TRUE(indices.empty() && width == -1) << what << ": nothing is handed back";
  }
}

// The tool run as a user runs it, its PNG read back with libpng's own simplified reader.
bool ReadRgb(const std::string& path, Image& out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  out = Image(std::int32_t(image.width), std::int32_t(image.height), Rgb{});
  const bool ok = png_image_finish_read(&image, nullptr, out.Pixels.data(), 0, nullptr) != 0;
  png_image_free(&image);
  return ok;
}

TEST(PreviewCommand, WritesTheRenderedPreviewAndKeepsAnExistingPng) {
  using korvane::testing::Quote;
  using korvane::testing::RunTool;
  TempDir dir;
  const std::string png = dir.File("release.png");
  const auto first = RunTool("preview " + Quote(Assets()) + " " + Quote(png));
  ASSERT_EQ(first.Status, 0) << first.Output;
  Image written;
  ASSERT_TRUE(ReadRgb(png, written));
  ReleaseSource source = OwnRelease();
  EXPECT_EQ(written.Width, kPreviewWidth);
  EXPECT_EQ(written.Height, kPreviewHeight);
  // The command names the payload's first file; the rest is the renderer's picture.
  Image expected;
  ASSERT_TRUE(RenderPreview(source, expected, {"", "Korvane Demo 1998\\LICENSE.TXT"}));
  EXPECT_TRUE(written.Pixels == expected.Pixels) << "the PNG holds the rendered preview";
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1) << "no partial file left";

  const Bytes before = ReadWholeFile(png);
  const auto again = RunTool("preview " + Quote(Assets()) + " " + Quote(png));
  EXPECT_EQ(again.Status, 2);
  EXPECT_NE(again.Output.find("exists; use -f"), std::string::npos) << again.Output;
  EXPECT_EQ(ReadWholeFile(png), before);
  EXPECT_EQ(RunTool("preview -f " + Quote(Assets()) + " " + Quote(png)).Status, 0);
}

TEST(PreviewCommand, NamesTheFileThatKeepsTheReleaseFromBeingDrawn) {
  using korvane::testing::Quote;
  using korvane::testing::RunTool;
  TempDir dir;
  const std::string folder = dir.File("release");
  fs::copy(Assets(), folder, fs::copy_options::recursive);
  Bytes main = ReadWholeFile(folder + "/main.pcx");
  main.resize(300);
  ASSERT_TRUE(WriteWholeFile(folder + "/main.pcx", main));
  const std::string png = dir.File("release.png");
  const auto run = RunTool("preview " + Quote(folder) + " " + Quote(png));
  EXPECT_EQ(run.Status, 2);
  EXPECT_EQ(run.Output.rfind("korvane preview: main.pcx: ", 0), 0u) << run.Output;
  EXPECT_FALSE(fs::exists(png));
}

}  // namespace
}  // namespace korvane::release
