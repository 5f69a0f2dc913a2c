// Test support: a fresh state record and window, and the unpackers' input and output over memory,
// collecting the unpacked bytes and each write's size (how the window was flushed).
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
  std::unique_ptr<UnpackState> State = std::make_unique<UnpackState>();
  std::vector<std::uint8_t> Window = std::vector<std::uint8_t>(kWindowSize);
  UnpackFixture() { State->Window = Window.data(); }
  UnpackState& s() { return *State; }
};

// UnpackIo only keeps references to the abort word and the remaining count, so they may be
// members constructed after it.
class MemoryUnpackIo final : public UnpackIo {
 public:
  // Keeps its own copy of the packed bytes, so a temporary may be passed.
  explicit MemoryUnpackIo(std::span<const std::uint8_t> packed, std::int32_t remainingOutput = 0)
      : UnpackIo(AbortWord, Remaining), Remaining(remainingOutput), Packed(packed.begin(), packed.end()) {}

  // The next entry of a solid run: new packed bytes and size, same collected output.
  void NextEntry(std::span<const std::uint8_t> packed, std::int32_t remainingOutput) {
    Packed.assign(packed.begin(), packed.end());
    Offset = 0;
    Remaining = remainingOutput;
  }

  std::uint32_t ReadPackedData(std::uint8_t* buffer, std::uint32_t count) override {
    ++Reads;
    if (AbortWord.load() != 0) return 0;
    const std::size_t n = std::min<std::size_t>(count, Packed.size() - Offset);
    if (n != 0) std::memcpy(buffer, Packed.data() + Offset, n);
    Offset += n;
    return static_cast<std::uint32_t>(n);
  }

  std::uint32_t WriteUnpackedData(const std::uint8_t* buffer, std::uint32_t count) override {
    if (AbortWord.load() != 0) return 0;
    WriteSizes.push_back(count);
    Output.insert(Output.end(), buffer, buffer + count);
    if (AbortAfterWrites != 0 && WriteSizes.size() >= AbortAfterWrites) AbortWord.store(2);
    return count;
  }

  void SetAbort(std::int32_t value) { AbortWord.store(value); }

  std::vector<std::uint8_t> Output;
  std::vector<std::uint32_t> WriteSizes;
  std::size_t Reads = 0;
  std::size_t AbortAfterWrites = 0;  // set Abort once this many writes happened (0: never)

 private:
  std::atomic<std::int32_t> AbortWord{0};
  std::int32_t Remaining;
  std::vector<std::uint8_t> Packed;
  std::size_t Offset = 0;
};

}  // namespace korvane::testing
