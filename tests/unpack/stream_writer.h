// Test support: packed streams built by hand, fields MSB first as the unpackers read them, and
// format 2.0 streams on top. Format 2.0 table blocks use a pre-code in which symbols 0 to 15 all
// have length 4, so a length difference is written as itself. The uniform tables give every
// symbol of a table one length (main 9 bits unless asked, distance 6, repeat length 5, audio 9:
// 8 would leave no code for 256), so a symbol's code is its own number.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "unpack/format20_codes.h"

namespace korvane::testing {

struct BitWriter {
  std::vector<std::uint8_t> Data;
  std::size_t Count = 0;  // bits written

  void Put(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i, ++Count) {
      if (Count % 8 == 0) Data.push_back(0);
      if ((value >> i) & 1) Data.back() |= static_cast<std::uint8_t>(0x80 >> (Count % 8));
    }
  }
  // The stream so far, its last byte padded with zero bits, plus padding zero bytes.
  std::vector<std::uint8_t> Bytes(std::size_t padding = 0) const {
    std::vector<std::uint8_t> out = Data;
    out.resize(Data.size() + padding);
    return out;
  }
};

struct Format20Writer {
  static constexpr int kDistanceBits = 6, kRepeatBits = 5;

  BitWriter Bits;
  int MainBits = 9;  // length of every main-table code in the uniform block
  std::array<std::uint8_t, 1028> Previous{};  // what the decoder's PreviousLengths will hold

  void UniformTableBlock(bool keep = false, int mainCodeBits = 9) {
    MainBits = mainCodeBits;
    std::vector<std::uint8_t> lengths(298, static_cast<std::uint8_t>(MainBits));
    lengths.resize(346, kDistanceBits);
    lengths.resize(374, kRepeatBits);
    TableBlock(false, 1, lengths, keep);
  }
  void UniformAudioBlock(int channels, bool keep = false) {
    TableBlock(true, channels, std::vector<std::uint8_t>(257 * channels, 9), keep);
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

  // A long match (symbols 270-297), with the length bonuses the decoder adds for far distances
  // taken off first.
  void LongMatch(std::uint32_t length, std::uint32_t distance) {
    const std::uint32_t coded = length - 3 - FarBonus(distance);
    const int k = Code(format20::kLengthBase, coded);
    Main(270 + k);
    Bits.Put(coded - format20::kLengthBase[k], format20::kLengthExtraBits[k]);
    const int d = Code(format20::kDistanceBase, distance - 1);
    Bits.Put(d, kDistanceBits);
    Bits.Put(distance - 1 - format20::kDistanceBase[d], format20::kDistanceExtraBits[d]);
  }

  std::vector<std::uint8_t> Bytes() const { return Bits.Bytes(8); }

  // The length bonuses the decoder adds for far distances, and a value's slot in a base table.
  static std::uint32_t FarBonus(std::uint32_t distance) {
    return (distance >= 0x2000 ? 1 : 0) + (distance >= 0x40000 ? 1 : 0);
  }
  template <typename Base, std::size_t N>
  static int Code(const Base (&base)[N], std::uint32_t value) {  // the last slot whose base is <= value
    return static_cast<int>(std::upper_bound(base, base + N, value) - base) - 1;
  }
};

}  // namespace korvane::testing
