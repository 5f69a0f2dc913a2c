// The two checksums of the archive format: CRC-32 (headers and the unpacked data of new
// archives) and the 16-bit add-and-rotate sum of old archives. No complement is applied
// inside; callers start a CRC from 0xFFFFFFFF and complement the result themselves.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace korvane {

// The checksum an archive's entries carry: the 16-bit sum in old archives, CRC-32 in new ones.
enum class ChecksumKind { kOld = 1, kCrc32 = 2 };

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

// The old 16-bit sum continues from the low 16 bits of value only.
std::uint32_t UpdateChecksum(std::uint32_t value, const std::uint8_t* data, std::size_t size, ChecksumKind kind);

}  // namespace korvane
