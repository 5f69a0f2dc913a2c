// Test support: a fresh state record and window, as the program owns them, and the unpackers'
// input and output over memory. Packed bytes come from a buffer (optionally in short pieces);
// unpacked bytes are collected, and each write's size is recorded so tests can see how the
// window was flushed.
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "unpack/unpack.h"

namespace korvane::testing {

struct UnpackFixture {
  std::unique_ptr<UnpackState> state = std::make_unique<UnpackState>();
  std::vector<std::uint8_t> window = std::vector<std::uint8_t>(kWindowSize);
  UnpackState& s() { return *state; }
};

struct MemoryIoCounters {
  std::atomic<std::int32_t> AbortWord{0};
  std::int32_t Remaining = 0;
};

class MemoryUnpackIo final : private MemoryIoCounters, public UnpackIo {
 public:
  // Keeps its own copy of the packed bytes, so a temporary may be passed.
  explicit MemoryUnpackIo(std::span<const std::uint8_t> packed, std::int32_t remainingOutput = 0)
      : UnpackIo(AbortWord, Remaining), packed_(packed.begin(), packed.end()) {
    Remaining = remainingOutput;
  }

  // The next entry of a solid run: new packed bytes and size, same collected output.
  void NextEntry(std::span<const std::uint8_t> packed, std::int32_t remainingOutput) {
    packed_.assign(packed.begin(), packed.end());
    offset_ = 0;
    Remaining = remainingOutput;
  }

  std::uint32_t ReadPackedData(std::uint8_t* buffer, std::uint32_t count) override {
    ++reads;
    if (AbortWord.load() != 0) return 0;
    std::size_t n = std::min<std::size_t>(count, packed_.size() - offset_);
    if (maxPiece != 0) n = std::min<std::size_t>(n, maxPiece);
    if (n != 0) std::memcpy(buffer, packed_.data() + offset_, n);
    offset_ += n;
    return static_cast<std::uint32_t>(n);
  }

  std::uint32_t WriteUnpackedData(const std::uint8_t* buffer, std::uint32_t count) override {
    if (AbortWord.load() != 0) return 0;
    writeSizes.push_back(count);
    output.insert(output.end(), buffer, buffer + count);
    if (abortAfterWrites != 0 && writeSizes.size() >= abortAfterWrites) AbortWord.store(2);
    return count;
  }

  void SetAbort(std::int32_t value) { AbortWord.store(value); }

  std::vector<std::uint8_t> output;
  std::vector<std::uint32_t> writeSizes;
  std::size_t reads = 0;
  std::uint32_t maxPiece = 0;          // deliver at most this many bytes per read (0: no limit)
  std::size_t abortAfterWrites = 0;    // set Abort once this many writes happened (0: never)

 private:
  std::vector<std::uint8_t> packed_;
  std::size_t offset_ = 0;
};

}  // namespace korvane::testing
