// PCX decoding (hand-built pictures for every branch of the run-length stream, and every
// picture of the real corpus against its manifest) and the palette DIBs pictures are cut into.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/corpus.h"
#include "ui/palette_dib.h"
#include "ui/pcx.h"

namespace korvane::ui {
namespace {

struct PcxFile {
  std::uint16_t Xmax = 3, Ymax = 3, BytesPerLine = 4;
  std::vector<std::uint8_t> Packed{0xD0, 0x01};  // a run of 16 ones
  std::uint8_t Version = 5, Encoding = 1, Bits = 8, Planes = 1;
  bool Marker = true;

  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> f(128, 0);
    const std::pair<std::size_t, int> fields[] = {{0, 10},    {1, Version}, {2, Encoding},   {3, Bits},
                                                  {8, Xmax},  {9, Xmax >> 8}, {10, Ymax},    {11, Ymax >> 8},
                                                  {65, Planes}, {66, BytesPerLine}, {67, BytesPerLine >> 8}};
    for (const auto& [at, value] : fields) f[at] = std::uint8_t(value);
    f.insert(f.end(), Packed.begin(), Packed.end());
    f.push_back(Marker ? 12 : 0);
    for (int i = 0; i < 768; ++i) f.push_back(std::uint8_t(i * 7 + 3));
    return f;
  }
};

// Run bytes, literals, a zero-length run that still eats its value byte, an escaped literal (a
// run of 1), runs across rows, a run cut at the picture's end (decoding stops there), padding
// beyond the width that never shows, data that ends early leaving the rest zero; header and
// palette kept.
TEST(PcxDecode, RunsLiteralsPaddingAndShortData) {
  const struct {
    PcxFile File;
    std::vector<std::uint8_t> Pixels;
    std::size_t Used;
  } cases[] = {
      {{7, 0, 8, {0xC3, 0x11, 0x22, 0xC0, 0x99, 0xC1, 0xC5, 0xC3, 0x33}},
       {0x11, 0x11, 0x11, 0x22, 0xC5, 0x33, 0x33, 0x33}, 9},
      {{3, 1, 4, {0x01, 0xC5, 0x07, 0xC9, 0x08, 0x55}}, {1, 7, 7, 7, 7, 7, 8, 8}, 5},
      {{2, 2, 4, {1, 2, 3, 0xC1, 0xEE, 0xC3, 4, 0xC1, 0xEE, 5, 0xC2, 6, 0xC1, 0xEE}}, {1, 2, 3, 4, 4, 4, 5, 6, 6}, 14},
      {{3, 1, 4, {0xC3, 0x09, 0xC4}}, {9, 9, 9, 0, 0, 0, 0, 0}, 3}};
  for (const auto& c : cases) {
    const auto bytes = c.File.Bytes();
    PcxPicture p;
    std::size_t used = 0;
    ASSERT_TRUE(DecodePcx(bytes, p, &used));
    EXPECT_EQ(p.Width() * p.Height(), static_cast<int>(c.Pixels.size()));
    std::vector<std::uint8_t> pixels = c.Pixels;
    pixels.resize(c.Pixels.size() + kPcxSpareBytes);  // the spare bytes are zero
    EXPECT_EQ(p.Pixels, pixels);
    EXPECT_EQ(used, c.Used);
    EXPECT_EQ(0, std::memcmp(p.Palette.data(), bytes.data() + bytes.size() - 768, 768));
    EXPECT_EQ(0, std::memcmp(p.Header.data(), bytes.data(), 8));
    EXPECT_EQ(0, std::memcmp(p.Header.data() + 12, bytes.data() + 12, 116));
  }
}

// Other kinds of picture, sizes the data cannot hold and every cut of a good file are refused.
TEST(PcxDecode, RefusesOtherPicturesAndShortFiles) {
  const std::pair<const char*, PcxFile> cases[] = {
      {"version 3", {.Version = 3}},
      {"unencoded", {.Encoding = 0}},
      {"four bits", {.Bits = 4}},
      {"three planes", {.Planes = 3}},
      {"no palette marker", {.Marker = false}},
      {"width wraps to zero", {.Xmax = 0xFFFF}},
      {"negative height", {.Ymax = 0x7FFF}},
      {"far more than the data can hold", {.Xmax = 0x7FFE, .Ymax = 0x7FFE, .BytesPerLine = 0x7FFF}}};
  for (const auto& [what, file] : cases) {
    PcxPicture p;
    EXPECT_FALSE(DecodePcx(file.Bytes(), p)) << what;
    EXPECT_TRUE(p.Pixels.empty()) << what;
  }
  const auto good = PcxFile{}.Bytes();
  for (std::size_t n = 0; n < 128 + 769; ++n) {
    PcxPicture p;
    EXPECT_FALSE(DecodePcx(std::span(good.data(), n), p)) << n;
  }
}

// Every picture of the corpus: the 8-bit ones decode to their manifest's size and palette,
// consuming exactly the packed bytes a per-line decoder used; all others are refused.
TEST(PcxCorpus, EveryFileAgainstItsManifest) {
  if (!testing::HaveCorpus()) GTEST_SKIP() << "corpus absent";
  const std::string dir = testing::CorpusDir() + "/pcx/";
  int decoded = 0, refused = 0;
  for (const auto& row : testing::ReadManifest(dir + "MANIFEST.tsv")) {
    SCOPED_TRACE(row.at("file"));
    const auto bytes = testing::ReadWholeFile(dir + row.at("file"));
    ASSERT_EQ(bytes.size(), std::stoul(row.at("bytes")));
    PcxPicture p;
    std::size_t used = 0;
    const bool ok = DecodePcx(bytes, p, &used);
    if (row.at("category") == "negative") {
      EXPECT_FALSE(ok);
      ++refused;
      continue;
    }
    ASSERT_TRUE(ok);
    ++decoded;
    const int width = std::stoi(row.at("width")), height = std::stoi(row.at("height"));
    EXPECT_EQ(p.Width(), width);
    EXPECT_EQ(p.Height(), height);
    EXPECT_EQ(p.Pixels.size(), std::size_t(width) * height + kPcxSpareBytes);
    EXPECT_EQ(used, std::stoul(row.at("packed_consumed")));  // all the packed bytes, for every picture
    EXPECT_EQ(0, std::memcmp(p.Palette.data(), bytes.data() + bytes.size() - 768, 768));
    // colours_used counts the distinct indices of the visible pixels; padding bytes or a
    // sheared decode would change it for the padded pictures.
    std::vector<bool> seen(256);
    for (std::size_t i = 0; i < std::size_t(width) * height; ++i) seen[p.Pixels[i]] = true;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), std::stoi(row.at("colours_used")));
  }
  EXPECT_EQ(decoded, 24);
  EXPECT_EQ(refused, 14);
}

// The header's fields show in every picture the GUI tests look at; here the layout around them
// and the sizes refused.
TEST(PaletteDib, PixelsFollowTheColourTableForAlignedSizesOnly) {
  PaletteDib dib(296, 300);
  ASSERT_TRUE(dib.Valid());
  EXPECT_EQ(dib.Pixels().data() - dib.Info(), 1064);
  EXPECT_EQ(dib.Pixels().size(), 296u * 300u);
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
  for (int i = 0; i < 256; ++i) EXPECT_EQ(dib.ColourIndex(std::size_t(i)), i == 200 ? 10 : i == 201 ? 0 : i) << i;
  // The 512 bytes behind the 256 indices stay unused.
  for (std::size_t i = 40 + 512; i < 1064; ++i) EXPECT_EQ(dib.Info()[i], 0) << i;
}

std::vector<std::uint8_t> Picture(int width, int height) {
  std::vector<std::uint8_t> p(std::size_t(width) * height + 10);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) p[std::size_t(y) * width + x] = std::uint8_t(x * 3 + y * 7);
  return p;
}

// The gauge fill keeps its last row zero; a button image comes from the lower picture. A rectangle
// past the picture (an exact-size span, for the sanitizer) or the DIB is refused; an empty one copies nothing.
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
  const auto picture = Picture(40, 30);
  const std::array<int, 4> outside[] = {{30, 0, 54, 10}, {0, 25, 24, 35}, {-4, 0, 20, 10},  // right, below, left of it
                                        {0, 0, 32, 10}, {0, 0, 24, 11}};  // wider, taller than the DIB
  for (const auto& [x1, y1, x2, y2] : outside) {
    PaletteDib dib(24, 10);
    EXPECT_FALSE(CopyPictureRect(dib, std::span(picture.data(), 40 * 30), x1, y1, x2, y2, 40)) << x1 << "," << y1;
  }
  PaletteDib dib(4, 4);
  EXPECT_TRUE(CopyPictureRect(dib, picture, 5, 5, 5, 9, 40));
  EXPECT_TRUE(CopyPictureRect(dib, picture, 9, 5, 5, 9, 40));
  for (auto b : dib.Pixels()) EXPECT_EQ(b, 0);
}

}  // namespace
}  // namespace korvane::ui
