// Little-endian field reader over a span: every read is checked against the span's end, and a
// read past it yields 0 instead of touching memory beyond it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace korvane {

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : Bytes(bytes) {}

  std::uint8_t U8() { return static_cast<std::uint8_t>(Take(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Take(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Take(4)); }
  void Skip(std::size_t n) {
    Pos = n > Bytes.size() - Pos ? Bytes.size() : Pos + n;
  }

 private:
  std::uint64_t Take(std::size_t n) {
    if (n > Bytes.size() - Pos) {
      Pos = Bytes.size();
      return 0;
    }
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t{Bytes[Pos + i]} << (8 * i);
    Pos += n;
    return v;
  }

  std::span<const std::uint8_t> Bytes;
  std::size_t Pos = 0;
};

}  // namespace korvane
