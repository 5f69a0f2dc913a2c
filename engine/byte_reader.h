// Little-endian field reader over a span: every read is checked against the span's end, and a
// read past it yields 0 and marks the reader failed instead of touching memory beyond it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace korvane {

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::uint8_t U8() { return static_cast<std::uint8_t>(Take(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Take(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Take(4)); }
  void Skip(std::size_t n) {
    if (n > bytes_.size() - pos_) {
      ok_ = false;
      pos_ = bytes_.size();
    } else {
      pos_ += n;
    }
  }
  bool Ok() const { return ok_; }
  std::size_t Position() const { return pos_; }

 private:
  std::uint64_t Take(std::size_t n) {
    if (n > bytes_.size() - pos_) {
      ok_ = false;
      pos_ = bytes_.size();
      return 0;
    }
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t{bytes_[pos_ + i]} << (8 * i);
    pos_ += n;
    return v;
  }

  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace korvane
