// The two checksums of the archive format: CRC-32 (headers and the unpacked data of new
// archives) and the 16-bit add-and-rotate sum of old archives. No complement is applied
// inside; callers start a CRC from 0xFFFFFFFF and complement the result themselves.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace korvane {

// Kinds for UpdateChecksum: the output layer passes kChecksumOld for old archives and
// kChecksumCrc32 for new ones.
inline constexpr int kChecksumOld = 1;
inline constexpr int kChecksumCrc32 = 2;

// Continues a reflected CRC-32 (polynomial 0xEDB88320) over size bytes; on x86-64 processors
// with carry-less multiply, by folding, elsewhere by UpdateCrc32Table.
std::uint32_t UpdateCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size);
inline std::uint32_t UpdateCrc32(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
  return UpdateCrc32(crc, bytes.data(), bytes.size());
}

// The portable table path on its own, which every build has; tests hold the folding path to it.
std::uint32_t UpdateCrc32Table(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

// Continues the 16-bit checksum of old archives: add the byte, then rotate left by one.
std::uint16_t UpdateOldChecksum(std::uint16_t sum, const std::uint8_t* data, std::size_t size);

// kind 1 selects the old 16-bit sum (the result masked to 16 bits), any other kind CRC-32.
std::uint32_t UpdateChecksum(std::uint32_t value, const std::uint8_t* data, std::size_t size, int kind);

}  // namespace korvane
