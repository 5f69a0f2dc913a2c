// The release preview and the PNG layer: the button tiles are the main picture's own pixels,
// the caption strip follows the caption, and PNG input is palette-only and never crashes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/corpus.h"
#include "tools/release/png_io.h"
#include "tools/release/preview.h"
#include "ui/pcx.h"

namespace korvane::release {
namespace {

namespace fs = std::filesystem;
using korvane::testing::ReadWholeFile;
using korvane::testing::TempDir;

fs::path Assets() {
  const char* source = std::getenv("KORVANE_SOURCE");
  return fs::path(source != nullptr ? source : ".") / "assets";
}

ReleaseSource AssetsSource() {
  std::vector<Problem> problems;
  ReleaseSource source = ReadReleaseSource(Assets().string(), problems);
  EXPECT_TRUE(problems.empty());
  return source;
}

Rgb PaletteColour(const ui::PcxPicture& p, int x, int y) {
  const std::uint8_t i = p.Pixels[std::size_t(y) * std::size_t(p.Width()) + std::size_t(x)];
  return {p.Palette[3 * i], p.Palette[3 * i + 1], p.Palette[3 * i + 2]};
}

TEST(Preview, ButtonTilesAreThePicturesOwnPixelsAndTheCaptionIsDrawn) {
  const ReleaseSource source = AssetsSource();
  Image image;
  ASSERT_TRUE(RenderPreview(source, image));
  const PreviewLayout layout = ComputePreviewLayout();
  EXPECT_EQ(image.Width, layout.Width);
  EXPECT_EQ(image.Height, layout.Height);
  ui::PcxPicture main;
  ASSERT_TRUE(ui::DecodePcx(source.MainPicture, main));
  for (std::size_t b = 0; b < ui::kButtonCount; ++b)
    for (std::size_t kind = 0; kind < 3; ++kind) {
      const ui::PictureRect& from = ui::kButtonSources[b][kind];
      const Rect& tile = layout.Tiles[b][kind];
      int wrong = 0;
      for (int y = 0; y < from.Y2 - from.Y1; ++y)
        for (int x = 0; x < from.X2 - from.X1; ++x)
          wrong += !(image.At(tile.X + x, tile.Y + y) == PaletteColour(main, from.X1 + x, from.Y1 + y));
      EXPECT_EQ(wrong, 0) << "button " << b << " image " << kind;
    }
  // Another caption draws another title bar, and nothing else changes.
  ReleaseSource other = source;
  const std::string text = "Quite another caption~~";
  std::copy(text.begin(), text.end(), other.Caption.begin());
  Image second;
  ASSERT_TRUE(RenderPreview(other, second));
  int inTitle = 0, elsewhere = 0;
  for (int y = 0; y < image.Height; ++y)
    for (int x = 0; x < image.Width; ++x)
      if (!(image.At(x, y) == second.At(x, y))) (layout.TitleBar.Contains(x, y) ? inTitle : elsewhere) += 1;
  EXPECT_GT(inTitle, 50);
  EXPECT_EQ(elsewhere, 0);
  ReleaseSource broken = source;
  broken.MainPicture.resize(100);
  EXPECT_FALSE(RenderPreview(broken, second));
}

// A palette PNG (made by ImageMagick from the PCX) reads back as the same colours; RGB is
// refused with the way to convert; cut and damaged files give a message, never a crash.
TEST(Preview, PngInputIsPaletteOnlyAndDamageIsAMessage) {
  TempDir dir;
  const std::string png = dir.File("main.png");
  ASSERT_EQ(std::system(("convert '" + (Assets() / "main.pcx").string() + "' PNG8:'" + png + "'").c_str()), 0);
  const std::vector<std::uint8_t> bytes = ReadWholeFile(png);
  int width = 0, height = 0;
  std::vector<std::uint8_t> indices;
  std::array<std::uint8_t, 768> palette{};
  std::string error;
  ASSERT_TRUE(ReadPalettePng(bytes, &width, &height, &indices, &palette, &error)) << error;
  ui::PcxPicture main;
  ASSERT_TRUE(ui::DecodePcx(ReadWholeFile((Assets() / "main.pcx").string()), main));
  ASSERT_EQ(width, 300);
  ASSERT_EQ(height, 503);
  int wrong = 0;
  for (int i = 0; i < width * height; ++i)
    wrong += !(Rgb{palette[3 * indices[i]], palette[3 * indices[i] + 1], palette[3 * indices[i] + 2]} ==
               PaletteColour(main, i % width, i / width));
  EXPECT_EQ(wrong, 0);

  std::vector<std::uint8_t> rgb;
  ASSERT_TRUE(EncodePng(2, 2, 3, std::vector<std::uint8_t>(12, 0x80), &rgb, &error)) << error;
  EXPECT_FALSE(ReadPalettePng(rgb, &width, &height, &indices, &palette, &error));
  EXPECT_NE(error.find(kPalettePngHint), std::string::npos) << error;
  for (std::size_t cut : {std::size_t(0), std::size_t(8), std::size_t(40), bytes.size() / 2, bytes.size() - 1}) {
    error.clear();
    EXPECT_FALSE(ReadPalettePng(std::span(bytes.data(), cut), &width, &height, &indices, &palette, &error)) << cut;
    EXPECT_FALSE(error.empty()) << cut;
  }
  std::vector<std::uint8_t> flipped = bytes;
  for (std::size_t i = 33; i < flipped.size(); i += 97) flipped[i] ^= 0x5A;
  error.clear();
  EXPECT_FALSE(ReadPalettePng(flipped, &width, &height, &indices, &palette, &error));
}

}  // namespace
}  // namespace korvane::release
