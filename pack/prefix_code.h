// Prefix codes for the packer: code lengths from symbol counts, limited to what the decoder
// reads (15 bits), and the canonical code values its tables assign to those lengths.
#pragma once
#include <cstdint>

namespace korvane::pack {

inline constexpr std::uint32_t kMaxCodeLength = 15;

// lengths[s] for the counts[s] of count symbols, none longer than maxLength: a Huffman code,
// shortened where it is too deep. Symbols with count 0 get length 0; a lone symbol gets 1.
void BuildCodeLengths(const std::uint32_t* counts, std::uint32_t count, std::uint32_t maxLength, std::uint8_t* lengths);

// The canonical codes of BuildHuffmanTable: by length, then by symbol value, each code the
// next value of its length. codes[s] is meaningful where lengths[s] is not 0.
void AssignCanonicalCodes(const std::uint8_t* lengths, std::uint32_t count, std::uint16_t* codes);

// Bits that counts cost when coded with lengths (symbols without a code must not occur).
std::uint64_t CodedBits(const std::uint32_t* counts, const std::uint8_t* lengths, std::uint32_t count);

}  // namespace korvane::pack
