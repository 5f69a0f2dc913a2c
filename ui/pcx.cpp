// Run-length decoding of 8-bit PCX pictures (header, packed rows, palette trailer).
#include "ui/pcx.h"

#include <algorithm>
#include <cstring>

namespace korvane::ui {
namespace {

constexpr std::size_t kVersionOffset = 1;
constexpr std::size_t kEncodingOffset = 2;
constexpr std::size_t kBitsOffset = 3;
constexpr std::size_t kXmaxOffset = 8;
constexpr std::size_t kYmaxOffset = 10;
constexpr std::size_t kPlanesOffset = 65;
constexpr std::size_t kBytesPerLineOffset = 66;
constexpr std::uint8_t kPaletteMarker = 12;
// A run byte carries its length in the low six bits, so two packed bytes make at most 63
// pixels; a picture larger than 32 times its packed data cannot be real.
constexpr std::uint64_t kMaxExpansion = 32;
static_assert(kMaxExpansion * 2 > 63, "bound must cover the longest run per byte pair");

std::uint16_t Read16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
void Write16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

std::int16_t PcxPicture::Width() const { return static_cast<std::int16_t>(Read16(&Header[kXmaxOffset])); }
std::int16_t PcxPicture::Height() const { return static_cast<std::int16_t>(Read16(&Header[kYmaxOffset])); }

bool DecodePcx(std::span<const std::uint8_t> file, PcxPicture& picture, std::size_t* packedUsed) {
  picture = PcxPicture{};
  if (packedUsed) *packedUsed = 0;
  if (file.size() < kPcxHeaderSize + kPcxPaletteTrailer) return false;
  const std::uint8_t* head = file.data();
  if (head[kVersionOffset] != 5 || head[kEncodingOffset] != 1) return false;
  // Only one plane of 8 bits is a picture of palette indices; everything else would decode
  // into noise that the window then shows as if it were the picture.
  if (head[kBitsOffset] != 8 || head[kPlanesOffset] != 1) return false;
  const std::size_t markerAt = file.size() - kPcxPaletteTrailer;
  if (file[markerAt] != kPaletteMarker) return false;

  // Xmax + 1 and Ymax + 1 as 16-bit fields: a stored 0xFFFF wraps to a size of 0 and a
  // stored 0x7FFF to a negative one; neither is a picture.
  const auto width = static_cast<std::int16_t>(Read16(head + kXmaxOffset) + 1);
  const auto height = static_cast<std::int16_t>(Read16(head + kYmaxOffset) + 1);
  if (width < 1 || height < 1) return false;
  // Writers pad odd widths to an even bytes-per-line; the padding is decoded and dropped.
  // A bytes-per-line below the width is nonsense and is read as the width itself.
  const std::size_t rowBytes = std::max<std::size_t>(Read16(head + kBytesPerLineOffset), std::size_t(width));
  const std::span<const std::uint8_t> packed = file.subspan(kPcxHeaderSize, markerAt - kPcxHeaderSize);
  const std::uint64_t streamBytes = std::uint64_t(rowBytes) * std::uint64_t(height);
  if (streamBytes > kMaxExpansion * packed.size() + 1) return false;

  std::memcpy(picture.Header.data(), head, kPcxHeaderSize);
  Write16(&picture.Header[kXmaxOffset], static_cast<std::uint16_t>(width));
  Write16(&picture.Header[kYmaxOffset], static_cast<std::uint16_t>(height));
  std::memcpy(picture.Palette.data(), file.data() + file.size() - kPcxPaletteSize, kPcxPaletteSize);
  const std::size_t w = std::size_t(width);
  picture.Pixels.assign(w * std::size_t(height) + kPcxSpareBytes, 0);

  // Runs may cross from one row into the next; the stream position (row, column) is kept
  // instead of a flat index so that padding columns can be skipped.
  std::size_t in = 0;
  std::size_t row = 0;
  std::size_t column = 0;
  std::uint8_t* out = picture.Pixels.data();
  const std::size_t rows = std::size_t(height);
  while (row < rows && in < packed.size()) {
    std::uint8_t value = packed[in++];
    std::size_t run = 1;
    if ((value & 0xC0) == 0xC0) {
      run = value & 0x3F;
      if (in == packed.size()) break;
      value = packed[in++];
    }
    while (run > 0 && row < rows) {
      const std::size_t take = std::min(run, rowBytes - column);
      if (column < w) {
        const std::size_t visible = std::min(take, w - column);
        std::memset(out + row * w + column, value, visible);
      }
      column += take;
      run -= take;
      if (column == rowBytes) {
        column = 0;
        ++row;
      }
    }
  }
  if (packedUsed) *packedUsed = in;
  return true;
}

}  // namespace korvane::ui
