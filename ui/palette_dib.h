// 8-bit top-down bitmaps whose colour table holds indices into a logical palette, in the
// exact memory layout the drawing call takes (header, 1024-byte table, pixels). Cutting
// picture rectangles into them and the source rectangle they are drawn from; the drawing
// itself is Windows code.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace korvane::ui {

inline constexpr std::size_t kDibHeaderSize = 40;
inline constexpr std::size_t kDibColourTableSize = 1024;  // 256 16-bit indices + 512 unused bytes
inline constexpr std::size_t kDibPixelOffset = kDibHeaderSize + kDibColourTableSize;
static_assert(kDibPixelOffset == 1064);

class PaletteDib {
 public:
  // A zero-filled image of width x height; widths must be multiples of 4 because rows carry
  // no filler. Returns an empty image (Valid() false) for sizes that are not positive or
  // not aligned.
  PaletteDib() = default;
  PaletteDib(std::int32_t width, std::int32_t height);

  bool Valid() const { return !Bytes.empty(); }
  std::int32_t Width() const { return ImageWidth; }
  std::int32_t Height() const { return ImageHeight; }
  // The whole block: a BITMAPINFOHEADER followed by the colour table, ready to hand to the
  // system as a BITMAPINFO; 8-byte aligned because it comes from the allocator.
  const std::uint8_t* Info() const { return Bytes.data(); }
  std::uint8_t* Info() { return Bytes.data(); }
  std::uint16_t ColourIndex(std::size_t entry) const;
  void SetColourIndex(std::size_t entry, std::uint16_t index);
  std::span<std::uint8_t> Pixels();
  std::span<const std::uint8_t> Pixels() const;

 private:
  std::vector<std::uint8_t> Bytes;
  std::int32_t ImageWidth = 0;
  std::int32_t ImageHeight = 0;
};

// Index of the palette entry nearest to (r, g, b) by squared distance, first one on ties;
// the same answer the system's palette gives for a palette built from these bytes.
std::uint16_t NearestPaletteIndex(std::span<const std::uint8_t, 768> palette, std::uint8_t r,
                                  std::uint8_t g, std::uint8_t b);

// Fills the colour table: entry i is nearest(r, g, b) of palette entry i.
template <typename Nearest>
void MapDibColors(PaletteDib& dib, std::span<const std::uint8_t, 768> palette, Nearest nearest) {
  if (!dib.Valid()) return;
  for (std::size_t i = 0; i < 256; ++i)
    dib.SetColourIndex(i, nearest(palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]));
}

// Copies picture rectangle (x1, y1)-(x2, y2), x2 and y2 excluded, of a picture whose rows
// are rowLength bytes into the DIB, row r of the rectangle into DIB row r. Rows or pixels
// that would fall outside the picture buffer or the DIB are left as they are. Returns false
// when anything was cut.
bool CopyPictureRect(PaletteDib& dib, std::span<const std::uint8_t> pixels, std::int32_t x1, std::int32_t y1,
                     std::int32_t x2, std::int32_t y2, std::int32_t rowLength);

struct SourceRect {
  std::int32_t X, Y, Width, Height;
};
// The part of a DIB that is stretched over a destination: from column 1 (column 0 of every
// image is never shown) to the right edge. Taking width - 1 columns keeps the source inside
// the bitmap, so every destination pixel is painted by the transfer.
SourceRect DibSourceRect(const PaletteDib& dib);

}  // namespace korvane::ui
