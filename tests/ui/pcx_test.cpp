// PCX decoding: hand-built pictures for every branch of the run-length stream, and every
// picture of the real corpus against its manifest.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/corpus.h"
#include "ui/pcx.h"

namespace korvane::ui {
namespace {

struct PcxFile {
  std::uint8_t Version = 5, Encoding = 1, Bits = 8, Planes = 1;
  std::uint16_t Xmax = 0, Ymax = 0, BytesPerLine = 0;
  std::vector<std::uint8_t> Packed;
  bool Marker = true;

  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> f(128, 0);
    f[0] = 10;
    f[1] = Version;
    f[2] = Encoding;
    f[3] = Bits;
    f[8] = std::uint8_t(Xmax);
    f[9] = std::uint8_t(Xmax >> 8);
    f[10] = std::uint8_t(Ymax);
    f[11] = std::uint8_t(Ymax >> 8);
    f[65] = Planes;
    f[66] = std::uint8_t(BytesPerLine);
    f[67] = std::uint8_t(BytesPerLine >> 8);
    for (std::uint8_t b : Packed) f.push_back(b);
    f.push_back(Marker ? 12 : 0);
    for (int i = 0; i < 768; ++i) f.push_back(std::uint8_t(i * 7 + 3));
    return f;
  }
};

// Every branch of the run-length stream on small pictures: run bytes, literals, a zero-length
// run that still eats its value byte, an escaped literal (a run of 1), runs that cross rows,
// a run cut at the picture's end (decoding stops there), padding bytes beyond the width that
// never show, and data that ends early leaving the rest zero.
TEST(PcxDecode, RunsLiteralsPaddingAndShortData) {
  const struct {
    std::uint16_t Xmax, Ymax, BytesPerLine;
    std::vector<std::uint8_t> Packed, Pixels;
    std::size_t Used;
  } cases[] = {
      {7, 0, 8, {0xC3, 0x11, 0x22, 0xC0, 0x99, 0xC1, 0xC5, 0xC3, 0x33}, {0x11, 0x11, 0x11, 0x22, 0xC5, 0x33, 0x33, 0x33}, 9},
      {3, 1, 4, {0x01, 0xC5, 0x07, 0xC9, 0x08, 0x55}, {1, 7, 7, 7, 7, 7, 8, 8}, 5},
      {2, 2, 4, {1, 2, 3, 0xC1, 0xEE, 0xC3, 4, 0xC1, 0xEE, 5, 0xC2, 6, 0xC1, 0xEE}, {1, 2, 3, 4, 4, 4, 5, 6, 6}, 14},
      {3, 1, 4, {0xC3, 0x09, 0xC4}, {9, 9, 9, 0, 0, 0, 0, 0}, 3}};
  for (const auto& c : cases) {
    PcxFile f;
    f.Xmax = c.Xmax;
    f.Ymax = c.Ymax;
    f.BytesPerLine = c.BytesPerLine;
    f.Packed = c.Packed;
    PcxPicture p;
    std::size_t used = 0;
    ASSERT_TRUE(DecodePcx(f.Bytes(), p, &used));
    EXPECT_EQ(p.Width() * p.Height(), static_cast<int>(c.Pixels.size()));
    ASSERT_EQ(p.Pixels.size(), c.Pixels.size() + kPcxSpareBytes);
    EXPECT_TRUE(std::equal(c.Pixels.begin(), c.Pixels.end(), p.Pixels.begin()));
    EXPECT_TRUE(std::all_of(p.Pixels.begin() + static_cast<std::ptrdiff_t>(c.Pixels.size()), p.Pixels.end(),
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(used, c.Used);
  }
}

TEST(PcxDecode, HeaderAndPaletteKeptWithSizesInXmaxYmax) {
  PcxFile f;
  f.Xmax = 299;
  f.Ymax = 502;
  f.BytesPerLine = 300;
  for (int i = 0; i < 300 * 503 / 60; ++i) {
    f.Packed.push_back(0xFC);
    f.Packed.push_back(std::uint8_t(i));
  }
  const auto bytes = f.Bytes();
  PcxPicture p;
  ASSERT_TRUE(DecodePcx(bytes, p));
  EXPECT_EQ(p.Width(), 300);
  EXPECT_EQ(p.Height(), 503);
  EXPECT_EQ(p.Pixels.size(), 150900u + kPcxSpareBytes);
  EXPECT_EQ(0, std::memcmp(p.Palette.data(), bytes.data() + bytes.size() - 768, 768));
  EXPECT_EQ(0, std::memcmp(p.Header.data(), bytes.data(), 8));
  EXPECT_EQ(0, std::memcmp(p.Header.data() + 12, bytes.data() + 12, 116));
}

struct RefusedCase {
  const char* Name;
  void (*Change)(PcxFile&);
};
class PcxRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(PcxRefused, IsNotAPicture) {
  PcxFile f;
  f.Xmax = 3;
  f.Ymax = 3;
  f.BytesPerLine = 4;
  f.Packed = {0xD0, 0x01};
  GetParam().Change(f);
  PcxPicture p;
  EXPECT_FALSE(DecodePcx(f.Bytes(), p));
  EXPECT_TRUE(p.Pixels.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Pcx, PcxRefused,
    ::testing::Values(RefusedCase{"Version3", [](PcxFile& f) { f.Version = 3; }},
                      RefusedCase{"Unencoded", [](PcxFile& f) { f.Encoding = 0; }},
                      RefusedCase{"FourBits", [](PcxFile& f) { f.Bits = 4; }},
                      RefusedCase{"ThreePlanes", [](PcxFile& f) { f.Planes = 3; }},
                      RefusedCase{"NoPaletteMarker", [](PcxFile& f) { f.Marker = false; }},
                      RefusedCase{"WidthWrapsToZero", [](PcxFile& f) { f.Xmax = 0xFFFF; }},
                      RefusedCase{"NegativeHeight", [](PcxFile& f) { f.Ymax = 0x7FFF; }},
                      RefusedCase{"FarMoreThanTheDataCanHold",
                                  [](PcxFile& f) {
                                    f.Xmax = 0x7FFE;
                                    f.Ymax = 0x7FFE;
                                    f.BytesPerLine = 0x7FFF;
                                  }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(PcxDecode, EveryShortFileIsRefused) {
  PcxFile f;
  f.Xmax = 3;
  f.Ymax = 3;
  f.BytesPerLine = 4;
  f.Packed = {0xD0, 0x01};
  const auto bytes = f.Bytes();
  for (std::size_t n = 0; n < 128 + 769; ++n) {
    PcxPicture p;
    EXPECT_FALSE(DecodePcx(std::span(bytes.data(), n), p)) << n;
  }
}

// Every picture of the corpus: the 8-bit ones decode to their manifest's size and palette,
// consuming exactly the packed bytes a per-line decoder used; all others are refused.
TEST(PcxCorpus, EveryFileAgainstItsManifest) {
  if (!testing::HaveCorpus()) GTEST_SKIP() << "corpus absent";
  const std::string dir = testing::CorpusDir() + "/pcx/";
  const auto rows = testing::ReadManifest(dir + "MANIFEST.tsv");
  ASSERT_FALSE(rows.empty());
  int decoded = 0, refused = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.at("file"));
    const auto bytes = testing::ReadWholeFile(dir + row.at("file"));
    ASSERT_EQ(bytes.size(), std::stoul(row.at("bytes")));
    PcxPicture p;
    std::size_t used = 0;
    const bool ok = DecodePcx(bytes, p, &used);
    const std::string& category = row.at("category");
    if (category == "negative") {
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
    EXPECT_EQ(used, std::stoul(row.at("packed_consumed")));
    EXPECT_EQ(used, std::stoul(row.at("packed_bytes")));
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

}  // namespace
}  // namespace korvane::ui
