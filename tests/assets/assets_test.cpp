// The committed release resources read by the installer's own code: the PCX decoder and
// button table of the front end, and the module player. The Python check reads the same
// files with independent readers; this side proves the installer's readers agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "player/mod_player.h"
#include "tests/support/corpus.h"
#include "ui/buttons.h"
#include "ui/pcx.h"

namespace korvane::ui {
namespace {
using korvane::testing::ReadWholeFile;

std::string Asset(const char* name) {
  const char* src = std::getenv("KORVANE_SOURCE");
  return (src != nullptr && *src != '\0' ? std::string(src) : std::string(KORVANE_SOURCE_DIR)) + "/assets/" + name;
}

TEST(ReleasePictures, DecodeToTheirSizeUsingExactlyThePackedData) {
  for (const auto& [file, width, height] : {std::tuple{"main.pcx", 300, 503}, {"progress.pcx", 428, 322}}) {
    SCOPED_TRACE(file);
    const std::vector<std::uint8_t> bytes = ReadWholeFile(Asset(file));
    PcxPicture picture;
    std::size_t used = 0;
    ASSERT_TRUE(DecodePcx(bytes, picture, &used));
    EXPECT_EQ(picture.Width(), width);
    EXPECT_EQ(picture.Height(), height);
    EXPECT_EQ(used, bytes.size() - 128 - 769) << "packed data must end right at the palette marker";
  }
}

// The button images built as the front end builds them from its own table: valid images of
// the rectangles' sizes; Hover and Pressed differ from Normal and from each other in the
// visible columns (column 0 is never shown), and Hover, which stands in for Normal, has the
// same top edge.
TEST(MainPicture, ButtonImagesOfTheFrontEndsTableDifferByState) {
  PcxPicture picture;
  ASSERT_TRUE(DecodePcx(ReadWholeFile(Asset("main.pcx")), picture));
  const auto differing = [&](const PaletteDib& a, const PaletteDib& b) {
    int n = 0;
    for (int y = 0; y < std::min(a.Height(), b.Height()); ++y)
      for (int x = 1; x < 148; ++x) n += a.Pixels()[y * 148 + x] != b.Pixels()[y * 148 + x];
    return n;
  };
  for (std::size_t id = 0; id < kButtonCount; ++id) {
    SCOPED_TRACE(id);
    ImageButton b;
    for (int kind = 0; kind < 3; ++kind) {
      const PictureRect& s = kButtonSources[id][std::size_t(kind)];
      ASSERT_TRUE(s.X1 >= 0 && s.X2 <= 300 && s.Y1 >= 0 && s.Y2 <= 503);
      SetButtonSource(kind, b, s.X1, s.Y1, s.X2, s.Y2);
    }
    for (int kind = 0; kind < 3; ++kind)
      BuildButtonImage(kind, b, picture.Pixels, picture.Palette, [](auto, auto, auto) { return std::uint16_t(0); });
    for (std::size_t kind = 0; kind < 3; ++kind) {
      const PictureRect& s = kButtonSources[id][kind];
      ASSERT_TRUE(b.Images[kind].Valid());
      EXPECT_EQ(b.Images[kind].Width(), 148);
      EXPECT_EQ(b.Images[kind].Height(), s.Y2 - s.Y1);
      EXPECT_EQ(b.Images[kind].Pixels()[0], picture.Pixels[std::size_t(s.Y1) * 300 + std::size_t(s.X1)]);
    }
    EXPECT_GT(differing(b.Images[kHoverImage], b.Images[kNormalImage]), 1500);
    EXPECT_GT(differing(b.Images[kPressedImage], b.Images[kNormalImage]), 1500);
    EXPECT_GT(differing(b.Images[kPressedImage], b.Images[kHoverImage]), 0);
    for (int x = 1; x < 148; ++x)
      EXPECT_EQ(b.Images[kHoverImage].Pixels()[x], b.Images[kNormalImage].Pixels()[x]) << "top edge " << x;
  }
}

TEST(Module, LoadsWithItsTraitsAndPlaysCleanly) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(Asset("korvane.mod"));
  ASSERT_LT(bytes.size(), 1u << 20);
  auto player = std::make_unique<ModPlayer>();
  ASSERT_EQ(LoadModule(*player, bytes), 1);  // the file's layout is check_assets.py's to check

  // Several minutes before the song comes round again is not asked; one pass of two is.
  EXPECT_GT(MeasureSongFrames(*player, std::int64_t{44100} * 600), std::int64_t{44100} * 120);

  // Render the first half minute: never silent for long, never clipped.
  ASSERT_EQ(ResetPlayState(*player), 1);
  std::vector<std::uint8_t> block(kBlockBytes);
  int clipped = 0, quietBlocks = 0;
  for (int b = 0; b < 60; ++b) {
    RenderBlock(*player, block.data());
    double energy = 0;
    for (std::size_t i = 0; i + 1 < block.size(); i += 2) {
      const auto v = static_cast<std::int16_t>(block[i] | block[i + 1] << 8);
      clipped += v == 32767 || v == -32768;
      energy += double(v) * v;
    }
    quietBlocks += std::sqrt(energy / (block.size() / 2)) < 300;
  }
  EXPECT_EQ(clipped, 0);
  EXPECT_LE(quietBlocks, 1);
  FreeModule(*player);
}

}  // namespace
}  // namespace korvane::ui
