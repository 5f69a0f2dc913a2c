// What both unpackers share: the packed-input buffer with its refill, the MSB-first bit
// reader, the 1 MiB window with its flush rule and the byte-wise match copy. Nothing here
// allocates; the window is the driver's buffer, remembered in UnpackState::Window.
#pragma once
#include <cstdint>
#include <cstring>

#include "unpack/unpack_io.h"
#include "unpack/unpack_state.h"

namespace korvane {

// Later refills keep the last 32 bytes so that a bit position near the end stays readable.
inline constexpr std::uint32_t kRefillKeptBytes = 32;
inline constexpr std::uint32_t kRefillReadBytes = kPackedBufferSize - kRefillKeptBytes;
// The main loops refill once PackedPos passes this; a pass reads fewer than 8 bytes.
inline constexpr std::uint32_t kMainLoopRefillPos = 8162;
// A pass never writes more than this many bytes (format 1.5's longest match is 266), and the
// window is flushed once fewer than this many bytes stay free.
inline constexpr std::uint32_t kWindowReserve = 270;

inline bool AbortRequested(const UnpackIo& io) {
  return io.Abort.load(std::memory_order_relaxed) != 0;
}

// The next 16 bits of input, MSB first, without consuming them.
inline std::uint32_t PeekBits(const UnpackState& s) {
  const std::uint8_t* p = s.PackedBuffer + s.PackedPos;
  const std::uint32_t v = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
  return (v >> (8 - s.BitPos)) & 0xFFFF;
}

inline void SkipBits(UnpackState& s, std::uint32_t n) {
  const std::uint32_t bits = s.BitPos + n;
  s.PackedPos += bits >> 3;
  s.BitPos = bits & 7;
}

// An n-bit field, n from 0 to 16; 0 bits read nothing and give 0.
inline std::uint32_t ReadBits(UnpackState& s, std::uint32_t n) {
  if (n == 0) return 0;
  const std::uint32_t value = PeekBits(s) >> (16 - n);
  SkipBits(s, n);
  return value;
}

// first: fill the whole buffer from index 0. Otherwise keep the last 32 bytes in front and
// read the rest; the read position stays on the same byte.
void RefillPackedBuffer(UnpackState& s, UnpackIo& io, bool first);

// True once the data of the entry is certainly used up (see UnpackState::EmptyRefills).
inline bool PackedInputExhausted(const UnpackState& s) { return s.EmptyRefills >= 2; }

inline bool WindowNearlyFull(const UnpackState& s) {
  return ((s.FlushedPos - s.WindowPos) & WindowMask) < kWindowReserve && s.FlushedPos != s.WindowPos;
}

void FlushWindow(UnpackState& s, UnpackIo& io);

// RemainingOutput only falls from a value of 0 or more by at most a match length per pass,
// except for the one subtraction at entry, which must not overflow for an absurd size.
inline void SubtractOutput(UnpackIo& io, std::uint32_t count) {
  io.RemainingOutput = static_cast<std::int32_t>(static_cast<std::uint32_t>(io.RemainingOutput) - count);
}
inline void StartOutputCount(UnpackIo& io) {
  if (io.RemainingOutput != INT32_MIN) io.RemainingOutput -= 1;
}

// Appends length bytes copied from distance bytes back, byte by byte and forward, so a
// distance below the length repeats the last distance bytes. The plain copies are only
// shortcuts for the cases where they give the same bytes as that loop.
inline void CopyFromWindow(UnpackState& s, UnpackIo& io, std::uint32_t distance, std::uint32_t length) {
  SubtractOutput(io, length);
  std::uint8_t* const w = s.Window;
  const std::uint32_t dst = s.WindowPos & WindowMask;
  const std::uint32_t src = (dst - distance) & WindowMask;
  if (dst + length <= kWindowSize && src + length <= kWindowSize) {
    if (src + length <= dst || dst + length <= src) {
      std::memcpy(w + dst, w + src, length);
    } else if (src > dst) {
      std::memmove(w + dst, w + src, length);  // source ahead of the writes: nothing re-read
    } else {
      for (std::uint32_t i = 0; i < length; ++i) w[dst + i] = w[src + i];
    }
  } else {
    for (std::uint32_t i = 0; i < length; ++i) w[(dst + i) & WindowMask] = w[(src + i) & WindowMask];
  }
  s.WindowPos = (dst + length) & WindowMask;
}

}  // namespace korvane
