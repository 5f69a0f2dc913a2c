// PaletteDib layout, colour-table mapping and rectangle cuts.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <numeric>
#include <vector>

#include "ui/palette_dib.h"

namespace korvane::ui {
namespace {

std::uint32_t Le32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }
std::uint16_t Le16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }

TEST(PaletteDib, HeaderDescribesATopDown8BitImage) {
  PaletteDib dib(296, 300);
  ASSERT_TRUE(dib.Valid());
  const std::uint8_t* h = dib.Info();
  EXPECT_EQ(Le32(h + 0), 40u);
  EXPECT_EQ(Le32(h + 4), 296u);
  EXPECT_EQ(std::int32_t(Le32(h + 8)), -300);
  EXPECT_EQ(Le16(h + 12), 1);
  EXPECT_EQ(Le16(h + 14), 8);
  EXPECT_EQ(Le32(h + 16), 0u);
  EXPECT_EQ(Le32(h + 20), 296u * 300u);
  for (int off : {24, 28, 32, 36}) EXPECT_EQ(Le32(h + off), 0u) << off;
  EXPECT_EQ(dib.Pixels().data() - dib.Info(), 1064);
  EXPECT_EQ(dib.Pixels().size(), 296u * 300u);
}

TEST(PaletteDib, RefusesSizesRowsCannotHold) {
  for (auto [w, h] : std::vector<std::pair<int, int>>{{0, 10}, {10, 10}, {-4, 10}, {4, 0}, {4, -1}, {1 << 16, 1 << 16}})
    EXPECT_FALSE(PaletteDib(w, h).Valid()) << w << "x" << h;
}

TEST(PaletteDib, ColourTableHoldsNearestPaletteIndices) {
  std::array<std::uint8_t, 768> palette{};
  for (int i = 0; i < 256; ++i) {
    palette[3 * i] = std::uint8_t(i);
    palette[3 * i + 1] = std::uint8_t(255 - i);
    palette[3 * i + 2] = std::uint8_t(i / 2);
  }
  // Entries 200 and 201 repeat earlier colours: the first entry of that colour wins.
  std::memcpy(&palette[600], &palette[30], 3);
  std::memcpy(&palette[603], &palette[0], 3);
  PaletteDib dib(8, 1);
  MapDibColors(dib, palette, [&](std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return NearestPaletteIndex(palette, r, g, b);
  });
  for (int i = 0; i < 256; ++i) {
    const int expected = i == 200 ? 10 : i == 201 ? 0 : i;
    EXPECT_EQ(dib.ColourIndex(std::size_t(i)), expected) << i;
  }
  // The 512 bytes behind the 256 indices stay unused.
  for (std::size_t i = 40 + 512; i < 1064; ++i) EXPECT_EQ(dib.Info()[i], 0) << i;
}

std::vector<std::uint8_t> Picture(int width, int height) {
  std::vector<std::uint8_t> p(std::size_t(width) * height + 10);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) p[std::size_t(y) * width + x] = std::uint8_t(x * 3 + y * 7);
  return p;
}

// The gauge fill keeps its last row zero; a button image comes from the lower picture.
TEST(CopyPictureRect, CopiesTheRectangleAndNothingElse) {
  const auto gauge = Picture(428, 322);
  PaletteDib fill(24, 194);
  EXPECT_TRUE(CopyPictureRect(fill, gauge, 400, 54, 424, 247, 428));
  for (int r = 0; r < 194; ++r)
    for (int k = 0; k < 24; ++k)
      ASSERT_EQ(fill.Pixels()[std::size_t(r) * 24 + k], r < 193 ? gauge[std::size_t(54 + r) * 428 + 400 + k] : 0);
  const auto buttons = Picture(300, 503);
  PaletteDib exitPressed(148, 48);
  EXPECT_TRUE(CopyPictureRect(exitPressed, buttons, 151, 451, 299, 499, 300));
  EXPECT_EQ(exitPressed.Pixels()[0], buttons[451u * 300 + 151]);
  EXPECT_EQ(exitPressed.Pixels()[147u + 47u * 148], buttons[498u * 300 + 298]);
}

struct OutsideCase {
  int X1, Y1, X2, Y2, Row;
};
class CopyOutside : public ::testing::TestWithParam<OutsideCase> {};

TEST_P(CopyOutside, CutsWithoutReadingOrWritingOutOfBounds) {
  const auto picture = Picture(40, 30);
  const auto c = GetParam();
  PaletteDib dib(24, 10);
  EXPECT_FALSE(CopyPictureRect(dib, std::span(picture.data(), 40 * 30), c.X1, c.Y1, c.X2, c.Y2, c.Row));
}

INSTANTIATE_TEST_SUITE_P(Rects, CopyOutside,
                         ::testing::Values(OutsideCase{30, 0, 54, 10, 40},   // past the right edge
                                           OutsideCase{0, 25, 24, 35, 40},   // past the last row
                                           OutsideCase{-4, 0, 20, 10, 40},   // left of the picture
                                           OutsideCase{0, 0, 32, 10, 40},    // wider than the DIB
                                           OutsideCase{0, 0, 24, 11, 40}));  // taller than the DIB

TEST(CopyPictureRect, EmptyRectangleChangesNothing) {
  const auto picture = Picture(40, 30);
  PaletteDib dib(4, 4);
  EXPECT_TRUE(CopyPictureRect(dib, picture, 5, 5, 5, 9, 40));
  EXPECT_TRUE(CopyPictureRect(dib, picture, 9, 5, 5, 9, 40));
  for (auto b : dib.Pixels()) EXPECT_EQ(b, 0);
}

}  // namespace
}  // namespace korvane::ui
