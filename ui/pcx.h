// Decoding of the installer's 8-bit PCX pictures into palette indices. Knows nothing of
// windows, palettes or bitmaps; the front end turns the result into drawable images.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace korvane::ui {

inline constexpr std::size_t kPcxHeaderSize = 128;
inline constexpr std::size_t kPcxPaletteSize = 768;
// The marker byte 12 stands right before the 768 palette bytes at the end of the file.
inline constexpr std::size_t kPcxPaletteTrailer = kPcxPaletteSize + 1;
// Spare bytes behind the pixels, zero-filled, as every consumer of the buffer expects.
inline constexpr std::size_t kPcxSpareBytes = 10;

struct PcxPicture {
  // The file's header unchanged, except that Xmax and Ymax (bytes 8 and 10) hold the
  // width and the height after decoding.
  std::array<std::uint8_t, kPcxHeaderSize> Header{};
  // 256 entries of red, green, blue.
  std::array<std::uint8_t, kPcxPaletteSize> Palette{};
  // Width x height palette indices, rows top to bottom without gaps, then the spare bytes.
  std::vector<std::uint8_t> Pixels;

  std::int16_t Width() const;
  std::int16_t Height() const;
};

// Decodes a version-5, run-length encoded, 8-bit single-plane picture with the palette
// at its end. Returns false (and leaves `picture` empty) for anything else: other versions,
// depths or plane counts, a missing palette marker, a size of 0, or a file too short to
// hold header and palette. Rows whose stored length (bytes per line) exceeds the width
// are decoded at their stored length and cut to the width, so padded pictures are not
// sheared. Packed data that ends early leaves the remaining pixels 0.
// `packedUsed`, when given, receives the number of packed bytes the decoding consumed.
bool DecodePcx(std::span<const std::uint8_t> file, PcxPicture& picture, std::size_t* packedUsed = nullptr);

}  // namespace korvane::ui
