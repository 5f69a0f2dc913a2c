// Packed-input refill and window flush: the only places the unpackers call out to the engine.
#include "unpack/bit_input.h"

namespace korvane {

void RefillPackedBuffer(UnpackState& s, UnpackIo& io, bool first) {
  if (AbortRequested(io)) return;
  std::uint32_t delivered;
  if (first) {
    s.EmptyRefills = 0;
    delivered = io.ReadPackedData(s.PackedBuffer, kPackedBufferSize);
    if (delivered > kPackedBufferSize) delivered = kPackedBufferSize;
    s.PackedFill = static_cast<std::int32_t>(delivered);
    s.PackedPos = 0;
  } else {
    std::memmove(s.PackedBuffer, s.PackedBuffer + kRefillReadBytes, kRefillKeptBytes);
    // Callers refill only past kMainLoopRefillPos, so this is PackedPos - 8160.
    s.PackedPos &= kRefillKeptBytes - 1;
    delivered = io.ReadPackedData(s.PackedBuffer + kRefillKeptBytes, kRefillReadBytes);
    if (delivered > kRefillReadBytes) delivered = kRefillReadBytes;
    if (delivered > 0) {
      s.PackedFill = static_cast<std::int32_t>(delivered + kRefillKeptBytes);
    } else {
      // Only the kept bytes that were valid before stay valid. (Setting the fill to the read
      // position would hide real bytes from the trailing table check when an entry's data
      // ends inside the last 32 bytes of a buffer.)
      const std::int32_t kept = s.PackedFill - static_cast<std::int32_t>(kRefillReadBytes);
      s.PackedFill = kept > 0 ? kept : 0;
    }
  }
  s.EmptyRefills = delivered == 0 ? s.EmptyRefills + 1 : 0;
}

void FlushWindow(UnpackState& s, UnpackIo& io) {
  if (AbortRequested(io)) return;
  if (s.WindowPos >= s.FlushedPos) {
    io.WriteUnpackedData(s.Window + s.FlushedPos, s.WindowPos - s.FlushedPos);
  } else {
    // The write position has wrapped: up to the window end, then from its start.
    io.WriteUnpackedData(s.Window + s.FlushedPos, (0u - s.FlushedPos) & WindowMask);
    if (AbortRequested(io)) return;
    io.WriteUnpackedData(s.Window, s.WindowPos);
  }
  NoteWindowWrites(s);
  s.FlushedPos = s.WindowPos;
}

}  // namespace korvane
