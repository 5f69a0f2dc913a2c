// Any byte string through the PCX decoder and, when it decodes, through the cuts the
// front end makes of a picture.
#include <cstdint>
#include <span>

#include "ui/buttons.h"
#include "ui/palette_dib.h"
#include "ui/pcx.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace korvane::ui;
  PcxPicture picture;
  if (!DecodePcx(std::span<const std::uint8_t>(data, size), picture)) return 0;
  const std::int32_t width = picture.Width(), height = picture.Height();
  if (picture.Pixels.size() != std::size_t(width) * std::size_t(height) + kPcxSpareBytes) __builtin_trap();
  // The front end's cuts assume its own pictures; on any other picture they must only cut.
  PaletteDib background(kBackgroundWidth, kBackgroundHeight);
  CopyPictureRect(background, picture.Pixels, 4, 0, 300, 300, width);
  PaletteDib fill(24, 194);
  CopyPictureRect(fill, picture.Pixels, 400, 54, 424, 247, width);
  return 0;
}
