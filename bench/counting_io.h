// The unpackers' I/O over memory for the benchmarks: packed bytes from a span, unpacked bytes
// only counted (the last one kept, so the window's contents stay observable).
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <span>

#include "unpack/unpack_io.h"

namespace korvane::bench {

struct IoCounters {
  std::atomic<std::int32_t> AbortWord{0};
  std::int32_t Remaining = 0;
};

class CountingIo final : private IoCounters, public korvane::UnpackIo {
 public:
  CountingIo(std::span<const std::uint8_t> packed, std::int32_t size) : UnpackIo(AbortWord, Remaining), Packed(packed) {
    Remaining = size;
  }
  std::uint32_t ReadPackedData(std::uint8_t* buffer, std::uint32_t count) override {
    const std::size_t n = std::min<std::size_t>(count, Packed.size() - Offset);
    std::memcpy(buffer, Packed.data() + Offset, n);
    Offset += n;
    return static_cast<std::uint32_t>(n);
  }
  std::uint32_t WriteUnpackedData(const std::uint8_t* buffer, std::uint32_t count) override {
    Written += count;
    if (count != 0) Last = buffer[count - 1];  // keep the window's bytes observable
    return count;
  }
  std::uint64_t Written = 0;
  std::uint8_t Last = 0;

 private:
  std::span<const std::uint8_t> Packed;
  std::size_t Offset = 0;
};

}  // namespace korvane::bench
