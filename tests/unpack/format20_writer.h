// Test support: writes format 2.0 streams. Table blocks use a pre-code in which symbols 0 to 15
// all have length 4, so a length difference is written as itself. The uniform LZ tables give
// every symbol of a table one length (main 9 bits unless asked, distance 6, repeat length 5),
// so a symbol's code is its own number.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "tests/unpack/bit_writer.h"
#include "unpack/format20_codes.h"

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
    const int k = Code(format20::kLengthBase, 28, coded);
    Main(270 + k);
    Bits.Put(coded - format20::kLengthBase[k], format20::kLengthExtraBits[k]);
    const int d = Code(format20::kDistanceBase, 48, distance - 1);
    Bits.Put(d, kDistanceBits);
    Bits.Put(distance - 1 - format20::kDistanceBase[d], format20::kDistanceExtraBits[d]);
  }

  // A match at recent distance slot 1-4 (symbols 257-260).
  void RecentMatch(int slot, std::uint32_t length, std::uint32_t distance) {
    std::uint32_t coded = length - 2;
    if (distance >= 0x2000) coded -= 1;
    if (distance >= 0x40000) coded -= 1;
    if (distance >= 257) coded -= 1;
    const int k = Code(format20::kLengthBase, 28, coded);
    Main(256 + slot);
    Bits.Put(k, kRepeatBits);
    Bits.Put(coded - format20::kLengthBase[k], format20::kLengthExtraBits[k]);
  }

  std::vector<std::uint8_t> Bytes() const { return Bits.Bytes(8); }

 private:
  template <typename Base>
  static int Code(const Base* base, int count, std::uint32_t value) {
    int k = 0;
    while (k + 1 < count && base[k + 1] <= value) ++k;
    return k;
  }
};

}  // namespace korvane::testing
