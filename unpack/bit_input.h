// What both unpackers share: the packed-input buffer with its refill, the MSB-first bit
// reader, the 1 MiB window with its flush rule and the byte-wise match copy. Nothing here
// allocates; the window is the driver's buffer, remembered in UnpackState::Window.
#pragma once
#include <bit>
#include <cstddef>
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
// The longest match either format can produce (format 1.5: length value 255 + 3 + 8).
inline constexpr std::uint32_t kLongestMatch = 266;
static_assert(kLongestMatch < kWindowReserve);

inline bool AbortRequested(const UnpackIo& io) {
  return io.Abort.load(std::memory_order_relaxed) != 0;
}

// sizeof(Word) input bytes at p as one big-endian number: the bit readers' only loads. One
// unaligned load and a byte swap where the compiler knows them, instead of a load and a
// shift per byte.
template <typename Word>
inline Word LoadBigEndian(const std::uint8_t* p) {
  static_assert(sizeof(Word) == 4 || sizeof(Word) == 8);
#if defined(__GNUC__)
  Word v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::little) {
    if constexpr (sizeof v == 8) {
      v = __builtin_bswap64(v);
    } else {
      v = __builtin_bswap32(v);
    }
  }
  return v;
#else
  Word v = 0;
  for (std::size_t i = 0; i < sizeof v; ++i) v = static_cast<Word>((v << 8) | p[i]);
  return v;
#endif
}

// The 16 bits at bit offset bit (0 to 7) of p, MSB first. Loads p[0] to p[3], though p[3]
// never reaches the result (bit + 16 <= 24); the packed buffer's guard bytes keep the load
// inside it wherever a pass may peek.
inline std::uint32_t PeekBitsAt(const std::uint8_t* p, std::uint32_t bit) {
  return (LoadBigEndian<std::uint32_t>(p) << bit) >> 16;
}

// The next 16 bits of input, MSB first, without consuming them.
inline std::uint32_t PeekBits(const UnpackState& s) { return PeekBitsAt(s.PackedBuffer + s.PackedPos, s.BitPos); }

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

// The same reading on a copy of the position that a hot loop keeps in registers: window
// stores may alias any field of UnpackState, so reading through the record would reload
// PackedPos and BitPos after every output byte. Load(), then Store() before anything else
// touches the record's input fields.
struct BitCursor {
  const std::uint8_t* Buffer;
  std::uint32_t Pos;
  std::uint32_t Bit;

  static BitCursor Load(const UnpackState& s) { return {s.PackedBuffer, s.PackedPos, s.BitPos}; }
  void Store(UnpackState& s) const {
    s.PackedPos = Pos;
    s.BitPos = Bit;
  }
  std::uint32_t Peek() const { return PeekBitsAt(Buffer + Pos, Bit); }
  template <int kBits>
  std::uint32_t PeekTop() const { return Peek() >> (16 - kBits); }
  void Skip(std::uint32_t n) {
    const std::uint32_t bits = Bit + n;
    Pos += bits >> 3;
    Bit = bits & 7;
  }
  std::uint32_t Read(std::uint32_t n) {
    if (n == 0) return 0;
    const std::uint32_t value = Peek() >> (16 - n);
    Skip(n);
    return value;
  }
};

// Format 2.0's passes read through this instead: up to 64 upcoming input bits held in a
// register and topped up a whole byte at a time once per pass, so that decoding a symbol
// waits on a shift and a table load rather than on a load from the input as well. Same
// Load / Store contract as BitCursor; between refills at most 56 bits may be taken, and a
// Peek needs 16 of them still there.
struct BitBuffer {
  const std::uint8_t* Buffer;
  std::uint32_t Next;   // first byte of Buffer not yet in Bits
  std::uint64_t Bits;   // upcoming input, MSB first; below the Count bits: later input or zeros
  std::uint32_t Count;  // bits of Bits that are taken as input (0 to 63)

  static constexpr std::uint32_t kBitsAfterRefill = 56;

  static BitBuffer Load(const UnpackState& s) {
    BitBuffer b{s.PackedBuffer, s.PackedPos, 0, 0};
    b.Refill();
    b.Skip(s.BitPos);
    return b;
  }
  void Store(UnpackState& s) const {
    const std::uint32_t bit = Next * 8 - Count;
    s.PackedPos = bit >> 3;
    s.BitPos = bit & 7;
  }
  // Adds every whole byte that fits behind the Count bits (to 56 or more). ORing in the
  // eight bytes at Next also repeats bits that are already there, which are the same input
  // bits, so no masking is needed. Loads Buffer[Next] to Buffer[Next + 7].
  void Refill() {
    Bits |= LoadBigEndian<std::uint64_t>(Buffer + Next) >> Count;
    Next += (63 - Count) >> 3;
    Count |= kBitsAfterRefill;
  }
  std::uint32_t Peek() const { return static_cast<std::uint32_t>(Bits >> 48); }
  // The next kBits bits (up to 16) in one shift: the fast table's index.
  template <int kBits>
  std::uint32_t PeekTop() const { return static_cast<std::uint32_t>(Bits >> (64 - kBits)); }
  void Skip(std::uint32_t n) {
    Bits <<= n;
    Count -= n;
  }
  // An n-bit field, n from 0 to 16 (0 gives 0 without a branch: the shift stays below 64).
  std::uint32_t Read(std::uint32_t n) {
    const std::uint32_t value = static_cast<std::uint32_t>((Bits >> 32) >> (32 - n));
    Skip(n);
    return value;
  }
};

// first: fill the whole buffer from index 0. Otherwise keep the last 32 bytes in front and
// read the rest; the read position stays on the same byte.
void RefillPackedBuffer(UnpackState& s, UnpackIo& io, bool first);

// True once the data of the entry is certainly used up (see UnpackState::EmptyRefills).
inline bool PackedInputExhausted(const UnpackState& s) { return s.EmptyRefills >= 2; }

inline bool WindowNearlyFull(const UnpackState& s) {
  return ((s.FlushedPos - s.WindowPos) & WindowMask) < kWindowReserve && s.FlushedPos != s.WindowPos;
}

void FlushWindow(UnpackState& s, UnpackIo& io);

// Takes the bytes written since the last flush into WindowDirtyEnd. They lie from FlushedPos
// up to WindowPos, wrapping at most once: the window-full check keeps the write position
// behind unflushed data, and only FlushWindow moves FlushedPos, right after calling this.
inline void NoteWindowWrites(UnpackState& s) {
  if (s.WindowPos < s.FlushedPos) {
    s.WindowDirtyEnd = kWindowSize;
  } else if (s.WindowPos > s.WindowDirtyEnd) {
    s.WindowDirtyEnd = s.WindowPos;
  }
}

// Makes window the record's window. One it has not written through before counts as
// written all over, whatever the caller did to it.
inline void UseWindow(UnpackState& s, std::uint8_t* window) {
  if (s.Window != window) s.WindowDirtyEnd = kWindowSize;
  s.Window = window;
}

// How many passes of a main loop, counting the one whose checks were just made, can run
// without those checks changing anything, given the most input (passBytes) and output
// (passOutput) one pass can take: PackedPos stays at or below the refill point and the window
// stays at least kWindowReserve bytes short of unflushed data at the top of each of them.
// Abort is then polled once per run of passes (a millisecond at most) rather than per pass.
inline std::uint32_t UncheckedPasses(const UnpackState& s, std::uint32_t passBytes, std::uint32_t passOutput) {
  std::uint32_t passes = 1;
  if (s.PackedPos <= kMainLoopRefillPos) passes = (kMainLoopRefillPos - s.PackedPos) / passBytes + 1;
  const std::uint32_t free = s.FlushedPos == s.WindowPos ? kWindowSize : (s.FlushedPos - s.WindowPos) & WindowMask;
  const std::uint32_t outputPasses = free >= kWindowReserve ? (free - kWindowReserve) / passOutput + 1 : 1;
  return outputPasses < passes ? outputPasses : passes;
}

// RemainingOutput only falls from a value of 0 or more by at most a match length per pass,
// except for the one subtraction at entry, which must not overflow for an absurd size.
inline void SubtractOutput(UnpackIo& io, std::uint32_t count) {
  io.RemainingOutput = static_cast<std::int32_t>(static_cast<std::uint32_t>(io.RemainingOutput) - count);
}
inline void StartOutputCount(UnpackIo& io) {
  if (io.RemainingOutput != INT32_MIN) io.RemainingOutput -= 1;
}

// Copies length bytes from distance bytes behind dst, byte by byte and forward, so a distance
// below the length repeats the last distance bytes; returns the position after them. The
// other paths are only shortcuts for the cases where they give the same bytes as that loop,
// and none writes past dst + length: the bytes beyond may still be read from a MiB away.
inline std::uint32_t CopyWithinWindow(std::uint8_t* w, std::uint32_t dst, std::uint32_t distance, std::uint32_t length) {
  dst &= WindowMask;
  const std::uint32_t src = (dst - distance) & WindowMask;
  if (dst + length <= kWindowSize && src + length <= kWindowSize) {
    if (src < dst && distance >= 8 && length >= 8) {
      // Eight bytes at a time, forward: with the source at least eight behind, each load
      // lies wholly before the bytes still to be written, so it sees what the byte-wise copy
      // would. The last group overlaps the one before and ends exactly at length.
      auto copy8 = [w](std::uint32_t to, std::uint32_t from) {
        std::uint64_t v;
        std::memcpy(&v, w + from, sizeof v);
        std::memcpy(w + to, &v, sizeof v);
      };
      for (std::uint32_t i = 0; i + 8 < length; i += 8) copy8(dst + i, src + i);
      copy8(dst + length - 8, src + length - 8);
    } else if (src > dst) {
      std::memmove(w + dst, w + src, length);  // source ahead of the writes: nothing re-read
    } else {
      for (std::uint32_t i = 0; i < length; ++i) w[dst + i] = w[src + i];
    }
  } else {
    for (std::uint32_t i = 0; i < length; ++i) w[(dst + i) & WindowMask] = w[(src + i) & WindowMask];
  }
  return (dst + length) & WindowMask;
}

// Appends length bytes copied from distance bytes back and counts them as output.
inline void CopyFromWindow(UnpackState& s, UnpackIo& io, std::uint32_t distance, std::uint32_t length) {
  SubtractOutput(io, length);
  s.WindowPos = CopyWithinWindow(s.Window, s.WindowPos, distance, length);
}

}  // namespace korvane
