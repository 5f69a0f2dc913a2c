// The packed stream as the unpackers read it: fields MSB first, bytes in order. Whole 32-bit
// groups go out at once; the bits not yet forming a group wait in the accumulator.
#pragma once
#include <cstdint>
#include <vector>

namespace korvane::pack {

class BitOutput {
 public:
  // count 0..32; value below 2^count. Small enough to inline everywhere; the byte output
  // happens once per 32 bits.
  void Put(std::uint32_t value, std::uint32_t count) {
    Pending = (Pending << count) | value;
    PendingBits += count;
    if (PendingBits >= 32) PutGroup();
  }

  std::uint64_t BitCount() const { return CompleteBytes.size() * 8 + PendingBits; }

  // Pads the last byte with zero bits; the stream then ends on a byte boundary.
  void FlushToByte() {
    while (PendingBits >= 8) {
      PendingBits -= 8;
      CompleteBytes.push_back(static_cast<std::uint8_t>(Pending >> PendingBits));
    }
    if (PendingBits > 0) CompleteBytes.push_back(static_cast<std::uint8_t>(Pending << (8 - PendingBits)));
    Pending = 0;
    PendingBits = 0;
  }

  // A stream that continues this one from its current bit: same pending bits, no bytes.
  BitOutput Fork() const {
    BitOutput f;
    f.Pending = Pending;
    f.PendingBits = PendingBits;
    return f;
  }
  // Takes a fork's continuation as this stream's own.
  void Join(BitOutput&& fork) {
    CompleteBytes.insert(CompleteBytes.end(), fork.CompleteBytes.begin(), fork.CompleteBytes.end());
    Pending = fork.Pending;
    PendingBits = fork.PendingBits;
  }

  // Complete bytes so far; a caller may take them away (the pending bits stay).
  std::vector<std::uint8_t>& Bytes() { return CompleteBytes; }

 private:
  void PutGroup() {
    PendingBits -= 32;
    const auto group = static_cast<std::uint32_t>(Pending >> PendingBits);
    const std::uint8_t out[4] = {static_cast<std::uint8_t>(group >> 24), static_cast<std::uint8_t>(group >> 16),
                                 static_cast<std::uint8_t>(group >> 8), static_cast<std::uint8_t>(group)};
    CompleteBytes.insert(CompleteBytes.end(), out, out + 4);
    Pending &= (std::uint64_t{1} << PendingBits) - 1;
  }

  std::vector<std::uint8_t> CompleteBytes;
  std::uint64_t Pending = 0;
  std::uint32_t PendingBits = 0;
};

}  // namespace korvane::pack
