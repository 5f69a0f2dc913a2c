// PaletteDib layout, colour table mapping and rectangle copies.
#include "ui/palette_dib.h"

#include <cstring>
#include <limits>

namespace korvane::ui {
namespace {

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
// Keeps width x height + 1064 well inside what a 32-bit build can allocate.
constexpr std::int64_t kMaxDibPixels = std::int64_t(1) << 26;

}  // namespace

PaletteDib::PaletteDib(std::int32_t width, std::int32_t height) {
  if (width < 1 || height < 1 || width % 4 != 0) return;
  const std::int64_t pixels = std::int64_t(width) * height;
  if (pixels > kMaxDibPixels) return;
  Bytes.assign(kDibPixelOffset + std::size_t(pixels), 0);
  ImageWidth = width;
  ImageHeight = height;
  std::uint8_t* h = Bytes.data();
  Put32(h + 0, kDibHeaderSize);
  Put32(h + 4, std::uint32_t(width));
  Put32(h + 8, std::uint32_t(-height));  // negative height: rows stored top row first
  Put16(h + 12, 1);                      // planes
  Put16(h + 14, 8);                      // bits per pixel
  Put32(h + 16, 0);                      // no compression
  Put32(h + 20, std::uint32_t(pixels));  // image size
}

std::uint16_t PaletteDib::ColourIndex(std::size_t entry) const {
  if (!Valid() || entry >= 256) return 0;
  const std::uint8_t* p = Bytes.data() + kDibHeaderSize + 2 * entry;
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void PaletteDib::SetColourIndex(std::size_t entry, std::uint16_t index) {
  if (!Valid() || entry >= 256) return;
  Put16(Bytes.data() + kDibHeaderSize + 2 * entry, index);
}

std::span<std::uint8_t> PaletteDib::Pixels() {
  if (!Valid()) return {};
  return std::span<std::uint8_t>(Bytes).subspan(kDibPixelOffset);
}
std::span<const std::uint8_t> PaletteDib::Pixels() const {
  if (!Valid()) return {};
  return std::span<const std::uint8_t>(Bytes).subspan(kDibPixelOffset);
}

std::uint16_t NearestPaletteIndex(std::span<const std::uint8_t, 768> palette, std::uint8_t r, std::uint8_t g,
                                  std::uint8_t b) {
  std::uint16_t best = 0;
  int bestDistance = std::numeric_limits<int>::max();
  for (int i = 0; i < 256; ++i) {
    const int dr = palette[3 * i] - r, dg = palette[3 * i + 1] - g, db = palette[3 * i + 2] - b;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = static_cast<std::uint16_t>(i);
    }
  }
  return best;
}

bool CopyPictureRect(PaletteDib& dib, std::span<const std::uint8_t> pixels, std::int32_t x1, std::int32_t y1,
                     std::int32_t x2, std::int32_t y2, std::int32_t rowLength) {
  const std::int64_t width = std::int64_t(x2) - x1;
  const std::int64_t height = std::int64_t(y2) - y1;
  if (width < 1 || height < 1) return true;  // an empty rectangle copies nothing
  if (!dib.Valid()) return false;
  const std::span<std::uint8_t> out = dib.Pixels();
  bool whole = true;
  // Rectangle row r lands at DIB offset r * width; the DIB may be taller than the rectangle
  // (its last rows then stay 0) but never narrower without cutting.
  for (std::int64_t r = 0; r < height; ++r) {
    const std::int64_t from = (std::int64_t(y1) + r) * rowLength + x1;
    const std::int64_t to = r * width;
    if (from < 0 || x1 < 0 || x2 > rowLength || std::uint64_t(from + width) > pixels.size() ||
        std::uint64_t(to + width) > out.size()) {
      whole = false;
      continue;
    }
    std::memcpy(out.data() + to, pixels.data() + from, std::size_t(width));
  }
  return whole;
}

SourceRect DibSourceRect(const PaletteDib& dib) { return {1, 0, dib.Width() - 1, dib.Height()}; }

}  // namespace korvane::ui
