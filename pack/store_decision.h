// Whether an entry goes into the archive packed or as it is. The archive writer and the tests'
// round trips both decide here, so that they store the same entries.
#pragma once
#include <cstdint>

#include "pack/encoder.h"

namespace korvane::pack {

// An empty entry is stored without ever reaching the encoder: there is nothing to shrink, and
// the stream (solid or not) goes on exactly as if the entry were not there.
constexpr bool WorthPacking(std::uint64_t size) { return size != 0; }

// After FinishEntry, with all of the entry's packed bytes counted: true when the entry is stored
// instead, because packing did not make it smaller and the encoder could forget it. On false
// the entry stays packed, even when it grew (DiscardEntry says when forgetting is impossible).
inline bool StoreInstead(Format20Encoder& encoder, std::uint64_t size, std::uint64_t packedSize) {
  return packedSize >= size && encoder.DiscardEntry();
}

}  // namespace korvane::pack
