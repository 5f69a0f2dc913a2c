// The committed release resources read by the installer's own code: the PCX decoder and
// button table of the front end, and the module player. The Python check reads the same
// files with independent readers; this side proves the installer's readers agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "player/mod_player.h"
#include "tests/support/corpus.h"
#include "ui/buttons.h"
#include "ui/pcx.h"

namespace {
using korvane::testing::ReadWholeFile;

std::string Asset(const char* name) {
  const char* src = std::getenv("KORVANE_SOURCE");
  return (src != nullptr && *src != '\0' ? std::string(src) : std::string(KORVANE_SOURCE_DIR)) + "/assets/" + name;
}

struct PictureCase {
  const char* File;
  int Width, Height;
};

class Pictures : public ::testing::TestWithParam<PictureCase> {};

TEST_P(Pictures, DecodeToTheirSizeUsingExactlyThePackedData) {
  const auto& c = GetParam();
  const std::vector<std::uint8_t> bytes = ReadWholeFile(Asset(c.File));
  ASSERT_GT(bytes.size(), 128u + 769u);
  korvane::ui::PcxPicture picture;
  std::size_t used = 0;
  ASSERT_TRUE(korvane::ui::DecodePcx(bytes, picture, &used));
  EXPECT_EQ(picture.Width(), c.Width);
  EXPECT_EQ(picture.Height(), c.Height);
  EXPECT_EQ(used, bytes.size() - 128 - 769) << "packed data must end right at the palette marker";
}

INSTANTIATE_TEST_SUITE_P(Release, Pictures,
                         ::testing::Values(PictureCase{"main.pcx", 300, 503}, PictureCase{"progress.pcx", 428, 322}));

TEST(MainPicture, ButtonImagesOfTheFrontEndsTableDifferByState) {
  korvane::ui::PcxPicture picture;
  ASSERT_TRUE(korvane::ui::DecodePcx(ReadWholeFile(Asset("main.pcx")), picture));
  const auto pixelAt = [&](int x, int y) { return picture.Pixels[std::size_t(y) * 300 + std::size_t(x)]; };
  for (std::size_t b = 0; b < korvane::ui::kButtonCount; ++b) {
    const auto& normal = korvane::ui::kButtonSources[b][0];
    for (int kind = 1; kind <= 2; ++kind) {
      const auto& r = korvane::ui::kButtonSources[b][std::size_t(kind)];
      ASSERT_TRUE(r.X1 >= 0 && r.X2 <= 300 && r.Y1 >= 0 && r.Y2 <= 503) << b;
      int differing = 0;
      for (int y = 0; y < std::min(r.Y2 - r.Y1, normal.Y2 - normal.Y1); ++y)
        for (int x = 1; x < r.X2 - r.X1; ++x)  // column 0 is never shown
          differing += pixelAt(r.X1 + x, r.Y1 + y) != pixelAt(normal.X1 + x, normal.Y1 + y);
      EXPECT_GT(differing, 1500) << "button " << b << " kind " << kind;
    }
  }
}

TEST(Module, LoadsWithItsTraitsAndPlaysCleanly) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(Asset("korvane.mod"));
  ASSERT_LT(bytes.size(), 1u << 20);
  auto player = std::make_unique<korvane::ModPlayer>();
  ASSERT_EQ(korvane::LoadModule(*player, bytes), 1);
  EXPECT_EQ(player->channelCount, 4);
  EXPECT_EQ(player->sampleSlots, 32);
  EXPECT_GE(player->songLength, 20);
  EXPECT_GE(player->patternCount, 16);
  int withData = 0;
  std::size_t total = 0;
  for (int s = 1; s < player->sampleSlots; ++s) {
    withData += player->samples[s].length > 0;
    total += std::size_t(player->samples[s].length);
  }
  EXPECT_GE(withData, 10);
  EXPECT_EQ(1084 + std::size_t(player->patternCount) * 1024 + total, bytes.size());

  // Several minutes before the song comes round again is not asked; one pass of two is.
  const std::int64_t pass = korvane::MeasureSongFrames(*player, std::int64_t{44100} * 600);
  EXPECT_GT(pass, std::int64_t{44100} * 120);

  // Render the first half minute: never silent for long, never clipped.
  ASSERT_EQ(korvane::ResetPlayState(*player), 1);
  std::vector<std::uint8_t> block(korvane::kBlockBytes);
  int clipped = 0, quietBlocks = 0;
  for (int b = 0; b < 60; ++b) {
    korvane::RenderBlock(*player, block.data());
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
  korvane::FreeModule(*player);
}

}  // namespace
