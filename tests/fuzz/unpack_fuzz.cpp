// Fuzz targets unpack15 and unpack20: arbitrary bytes through the unpacker that
// KORVANE_FUZZ_UNPACKER names. Input layout:
//   bytes 0-1  unpacked size (little-endian), scaled by 2^(bits 4-5 of byte 2)
//   byte 2     bit 0: decode a second, solid entry over the same bytes
//              bit 1: start that solid entry 100 bytes before the window end
//              bit 2: decode the first entry as solid too, from the fresh record
//              bit 3: set Abort after the third write
//   byte 3..   packed data
// Anything may come out; nothing may crash, hang or touch memory outside the buffers.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "tests/support/memory_io.h"
#include "unpack/unpack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace korvane;
  if (size < 3) return 0;
  static std::vector<std::uint8_t> window(kWindowSize);
  const std::uint32_t flags = data[2];
  const std::int32_t unpacked = static_cast<std::int32_t>((data[0] | (data[1] << 8)) << ((flags >> 4) & 3));
  const std::span<const std::uint8_t> packed(data + 3, size - 3);

  auto state = std::make_unique<UnpackState>();
  testing::MemoryUnpackIo io(packed, unpacked);
  if (flags & 8) io.AbortAfterWrites = 3;
  // A solid first entry uses the window as found: clear it so every run starts alike.
  if (flags & 4) std::fill(window.begin(), window.end(), std::uint8_t{0});
  KORVANE_FUZZ_UNPACKER(*state, io, window.data(), (flags & 4) != 0);
  if (flags & 1) {
    if (flags & 2) state->WindowPos = state->FlushedPos = kWindowSize - 100;
    io.NextEntry(packed, unpacked);
    KORVANE_FUZZ_UNPACKER(*state, io, window.data(), true);
  }
  return 0;
}

