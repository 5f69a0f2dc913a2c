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
    pending_ = (pending_ << count) | value;
    pendingBits_ += count;
    if (pendingBits_ >= 32) PutGroup();
  }

  std::uint64_t BitCount() const { return bytes_.size() * 8 + pendingBits_; }

  // Pads the last byte with zero bits; the stream then ends on a byte boundary.
  void FlushToByte() {
    while (pendingBits_ >= 8) {
      pendingBits_ -= 8;
      bytes_.push_back(static_cast<std::uint8_t>(pending_ >> pendingBits_));
    }
    if (pendingBits_ > 0) bytes_.push_back(static_cast<std::uint8_t>(pending_ << (8 - pendingBits_)));
    pending_ = 0;
    pendingBits_ = 0;
  }

  // A stream that continues this one from its current bit: same pending bits, no bytes.
  BitOutput Fork() const {
    BitOutput f;
    f.pending_ = pending_;
    f.pendingBits_ = pendingBits_;
    return f;
  }
  // Takes a fork's continuation as this stream's own.
  void Join(BitOutput&& fork) {
    bytes_.insert(bytes_.end(), fork.bytes_.begin(), fork.bytes_.end());
    pending_ = fork.pending_;
    pendingBits_ = fork.pendingBits_;
  }

  // Complete bytes so far; a caller may take them away (the pending bits stay).
  std::vector<std::uint8_t>& Bytes() { return bytes_; }

 private:
  void PutGroup() {
    pendingBits_ -= 32;
    const auto group = static_cast<std::uint32_t>(pending_ >> pendingBits_);
    const std::uint8_t out[4] = {static_cast<std::uint8_t>(group >> 24), static_cast<std::uint8_t>(group >> 16),
                                 static_cast<std::uint8_t>(group >> 8), static_cast<std::uint8_t>(group)};
    bytes_.insert(bytes_.end(), out, out + 4);
    pending_ &= (std::uint64_t{1} << pendingBits_) - 1;
  }

  std::vector<std::uint8_t> bytes_;
  std::uint64_t pending_ = 0;
  std::uint32_t pendingBits_ = 0;
};

}  // namespace korvane::pack
