// Test support: writes format 2.0 streams. Table blocks use a pre-code in which symbols 0 to 15
// all have length 4, so a length difference is written as itself. The uniform LZ tables give
// every symbol of a table one length (main 9 bits unless asked, distance 6, repeat length 5),
// so a symbol's code is its own number.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "tests/unpack/bit_writer.h"

namespace korvane::testing {

class Format20Writer {
 public:
  static constexpr int kDistanceBits = 6, kRepeatBits = 5;

  BitWriter Bits;
  int MainBits = 9;  // length of every main-table code in the uniform block
  std::array<std::uint8_t, 1028> Previous{};  // what the decoder's PreviousLengths will hold

  // A normal block with the uniform LZ tables.
  void UniformTableBlock(bool keep = false, int mainCodeBits = 9) {
    MainBits = mainCodeBits;
    std::vector<std::uint8_t> lengths(374);
    for (int i = 0; i < 298; ++i) lengths[i] = static_cast<std::uint8_t>(MainBits);
    for (int i = 298; i < 346; ++i) lengths[i] = kDistanceBits;
    for (int i = 346; i < 374; ++i) lengths[i] = kRepeatBits;
    TableBlock(false, 1, lengths, keep);
  }

  // An audio block: channels tables of 257 lengths, each the same: 256 residuals of 8 bits
  // would leave no code for 256, so residuals get 9 bits and symbol 256 too.
  void UniformAudioBlock(int channels, bool keep = false) {
    std::vector<std::uint8_t> lengths(257 * channels, 9);
    TableBlock(true, channels, lengths, keep);
  }

  void TableBlock(bool audio, int channels, const std::vector<std::uint8_t>& lengths, bool keep) {
    Bits.Put(audio ? 1 : 0, 1);
    Bits.Put(keep ? 1 : 0, 1);
    if (audio) Bits.Put(channels - 1, 2);
    for (int s = 0; s < 19; ++s) Bits.Put(s < 16 ? 4 : 0, 4);
    if (!keep) Previous.fill(0);
    for (std::size_t i = 0; i < lengths.size(); ++i) {
      Bits.Put((lengths[i] - Previous[i]) & 15, 4);
      Previous[i] = lengths[i];
    }
  }

  void Main(std::uint32_t symbol) { Bits.Put(symbol, MainBits); }
  void Audio(std::uint32_t symbol) { Bits.Put(symbol, 9); }
  void Literal(std::uint8_t byte) { Main(byte); }

  // A long match (symbols 270-297) of the given length and distance, with the length
  // bonuses the decoder adds for far distances taken off first.
  void LongMatch(std::uint32_t length, std::uint32_t distance) {
    std::uint32_t coded = length - 3;
    if (distance >= 0x2000) coded -= 1;
    if (distance >= 0x40000) coded -= 1;
    const int k = Code(kLengthBase, 28, coded);
    Main(270 + k);
    Bits.Put(coded - kLengthBase[k], kLengthExtra[k]);
    const int d = Code(kDistanceBase, 48, distance - 1);
    Bits.Put(d, kDistanceBits);
    Bits.Put(distance - 1 - kDistanceBase[d], kDistanceExtra[d]);
  }

  // A match at recent distance slot 1-4 (symbols 257-260).
  void RecentMatch(int slot, std::uint32_t length, std::uint32_t distance) {
    std::uint32_t coded = length - 2;
    if (distance >= 0x2000) coded -= 1;
    if (distance >= 0x40000) coded -= 1;
    if (distance >= 257) coded -= 1;
    const int k = Code(kLengthBase, 28, coded);
    Main(256 + slot);
    Bits.Put(k, kRepeatBits);
    Bits.Put(coded - kLengthBase[k], kLengthExtra[k]);
  }

  std::vector<std::uint8_t> Bytes() const { return Bits.Bytes(8); }

 private:
  static int Code(const std::uint32_t* base, int count, std::uint32_t value) {
    int k = 0;
    while (k + 1 < count && base[k + 1] <= value) ++k;
    return k;
  }
  static constexpr std::uint32_t kLengthBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                                    24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
  static constexpr int kLengthExtra[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                           2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
  static constexpr std::uint32_t kDistanceBase[48] = {
      0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
      64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
      4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
      262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
  static constexpr int kDistanceExtra[48] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                             7,  7,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14,
                                             15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
};

}  // namespace korvane::testing
