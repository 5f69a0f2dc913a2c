// CRC-32 by slicing-by-16: sixteen 256-entry tables let one step consume sixteen bytes with
// independent lookups instead of a chain of sixteen dependent ones.
#include "engine/checksum.h"

#include <array>

namespace korvane {
namespace {

constexpr std::uint32_t kCrcPolynomial = 0xEDB88320u;
constexpr std::size_t kSlices = 16;

using CrcTables = std::array<std::array<std::uint32_t, 256>, kSlices>;

constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ kCrcPolynomial : c >> 1;
    t[0][n] = c;
  }
  // t[k][n] is the CRC contribution of byte n followed by k zero bytes.
  for (std::size_t k = 1; k < kSlices; ++k)
    for (std::size_t n = 0; n < 256; ++n) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFFu];
  return t;
}

constexpr CrcTables kCrcTables = MakeCrcTables();
static_assert(sizeof(kCrcTables) == kSlices * 256 * sizeof(std::uint32_t), "16 KiB of tables, no padding");
static_assert(kCrcTables[0][1] == 0x77073096u && kCrcTables[0][128] == 0xEDB88320u,
              "first-level table must be the reflected IEEE 802.3 table");

inline std::uint32_t Load32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

}  // namespace

std::uint32_t UpdateCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
  const auto& t = kCrcTables;
  while (size >= kSlices) {
    const std::uint32_t a = crc ^ Load32(data);
    const std::uint32_t b = Load32(data + 4);
    const std::uint32_t c = Load32(data + 8);
    const std::uint32_t d = Load32(data + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    data += kSlices;
    size -= kSlices;
  }
  while (size-- > 0) crc = t[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
  return crc;
}

std::uint16_t UpdateOldChecksum(std::uint16_t sum, const std::uint8_t* data, std::size_t size) {
  // Kept in 32 bits so neither the add nor the shift can leave the value range we mask to.
  std::uint32_t s = sum;
  for (std::size_t i = 0; i < size; ++i) {
    s = (s + data[i]) & 0xFFFFu;
    s = ((s << 1) | (s >> 15)) & 0xFFFFu;
  }
  return static_cast<std::uint16_t>(s);
}

std::uint32_t UpdateChecksum(std::uint32_t value, const std::uint8_t* data, std::size_t size, ChecksumKind kind) {
  if (kind == ChecksumKind::kOld) return UpdateOldChecksum(static_cast<std::uint16_t>(value), data, size);
  return UpdateCrc32(value, data, size);
}

}  // namespace korvane
