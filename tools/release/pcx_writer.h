// Writes palette pictures as the installer's PCX: version 5, run-length encoded, one plane of
// 8 bits, bytes per line equal to the width, and the 256-colour palette behind marker 12.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace korvane::release {

// indices: width x height palette indices, rows top to bottom; palette: 256 x RGB.
std::vector<std::uint8_t> EncodePcx(int width, int height, std::span<const std::uint8_t> indices,
                                    std::span<const std::uint8_t, 768> palette);

}  // namespace korvane::release
