// PNG in and out through libpng: true-colour pictures written for people to look at (the
// release preview), and palette pictures read so a packager can hand in PNG instead of PCX.
// Damaged input never crashes; every libpng error comes back as false and a message.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace korvane::release {

// What a packager is told to run on a true-colour or grey picture.
inline constexpr const char* kPalettePngHint = "convert in.png -colors 256 PNG8:out.png";

// channels is 3 (RGB) or 4 (RGBA); pixels holds width x height x channels bytes, rows top first.
bool EncodePng(int width, int height, int channels, std::span<const std::uint8_t> pixels,
               std::vector<std::uint8_t>* out, std::string* error);
bool WritePng(const std::string& path, int width, int height, int channels, std::span<const std::uint8_t> pixels,
              std::string* error);

// Reads a palette PNG of 1, 2, 4 or 8 bits per pixel (interlaced or not) into one index byte
// per pixel, rows top first, and 256 RGB entries (a shorter palette is padded with black).
// Transparency is ignored: the installer's pictures have none. True-colour and grey PNGs are
// refused with kPalettePngHint in the message, as is an index past the end of the palette.
bool ReadPalettePng(std::span<const std::uint8_t> bytes, int* width, int* height, std::vector<std::uint8_t>* indices,
                    std::array<std::uint8_t, 768>* palette, std::string* error);

// A palette PNG as the installer's PCX, for ReadReleaseSource's main.png and progress.png.
bool PalettePngToPcx(std::span<const std::uint8_t> png, std::vector<std::uint8_t>& pcx, std::string& error);

}  // namespace korvane::release
