// Format 2.0: LZ77 over the 1 MiB window with prefix codes sent in table blocks, and the
// multimedia mode in which each symbol is a predictor residual. Also the per-entry reset
// that format 1.5 shares.
#include <cstring>

#include "unpack/audio.h"
#include "unpack/bit_input.h"
#include "unpack/format20_codes.h"
#include "unpack/huffman.h"
#include "unpack/unpack.h"

namespace korvane {
namespace {

using namespace format20;

// The longest match (length code 27 with all extra bits, plus the two distance bonuses, or
// a recent-distance match with its three bonuses) must fit the window's reserve.
static_assert(kLargestLengthValue + kLongMatchMinimum + LongMatchBonus(kWindowSize) <= kLongestMatch &&
              kLargestLengthValue + kRecentMatchMinimum + RecentMatchBonus(kWindowSize) <= kLongestMatch);

// The table block reader's refill points: at its start and before each code-length symbol.
constexpr std::uint32_t kTableStartRefillPos = 8167;
constexpr std::uint32_t kTableSymbolRefillPos = 8187;
// The trailing check decodes a symbol only with at least this many valid bytes ahead.
constexpr std::int32_t kTrailingSymbolBytes = 5;

void ReadTableBlock(UnpackState& s, UnpackIo& io) {
  if (AbortRequested(io)) return;
  if (s.PackedPos > kTableStartRefillPos) RefillPackedBuffer(s, io, false);
  const std::uint32_t header = PeekBits(s);
  s.AudioMode = (header & 0x8000) != 0;
  if (AbortRequested(io)) return;
  if ((header & 0x4000) == 0) std::memset(s.PreviousLengths, 0, sizeof s.PreviousLengths);
  SkipBits(s, 2);
  if (AbortRequested(io)) return;

  std::uint32_t tableSize;
  if (s.AudioMode) {
    s.AudioChannels = static_cast<std::int32_t>(((header >> 12) & 3) + 1);
    if (s.AudioChannel >= s.AudioChannels) s.AudioChannel = 0;
    SkipBits(s, 2);
    tableSize = kAudioAlphabet * static_cast<std::uint32_t>(s.AudioChannels);
  } else {
    tableSize = kNormalBlockPositions;
  }

  std::uint8_t preLengths[kPreCodeAlphabet];
  for (std::uint8_t& length : preLengths) length = static_cast<std::uint8_t>(ReadBits(s, 4));
  BuildHuffmanTable(preLengths, s.PreCodeTable, kPreCodeAlphabet);

  // Positions the block does not define keep the previous block's lengths (cleared above
  // when the keep flag is 0), so copying all 1028 back below changes nothing there.
  std::uint8_t lengths[kTableLengthCount];
  std::memcpy(lengths, s.PreviousLengths, sizeof lengths);
  // The input position lives in a local cursor, written back only around a refill and at
  // the end: the same reads at the same refill points as through the record.
  BitCursor in = BitCursor::Load(s);
  std::uint32_t i = 0;
  while (i < tableSize) {
    if (AbortRequested(io)) {
      in.Store(s);
      return;
    }
    if (in.Pos > kTableSymbolRefillPos) {
      in.Store(s);
      RefillPackedBuffer(s, io, false);
      in = BitCursor::Load(s);
    }
    const std::uint32_t symbol = DecodeHuffmanSymbol(in, s.PreCodeTable);
    if (symbol < 16) {
      lengths[i] = static_cast<std::uint8_t>((symbol + s.PreviousLengths[i]) & 15);
      ++i;
      continue;
    }
    std::uint32_t run;
    std::uint8_t value = 0;
    if (symbol == 16) {
      run = in.Read(2) + 3;
      // At the first position there is no earlier length of this block; we repeat 0.
      value = i > 0 ? lengths[i - 1] : 0;
    } else if (symbol == 17) {
      run = in.Read(3) + 3;
    } else {
      run = in.Read(7) + 11;
    }
    for (; run > 0 && i < tableSize; --run) lengths[i++] = value;
  }
  in.Store(s);

  if (s.AudioMode) {
    for (std::int32_t j = 0; j < s.AudioChannels; ++j)
      BuildHuffmanTable(lengths + kAudioAlphabet * static_cast<std::uint32_t>(j), s.AudioTables[j], kAudioAlphabet);
  } else {
    BuildHuffmanTable(lengths, s.MainTable, kMainAlphabet);
    BuildHuffmanTable(lengths + kMainAlphabet, s.DistanceTable, kDistanceAlphabet);
    BuildHuffmanTable(lengths + kMainAlphabet + kDistanceAlphabet, s.RepeatLengthTable, kRepeatLengthAlphabet);
  }
  std::memcpy(s.PreviousLengths, lengths, sizeof lengths);
}

// The packer may end an entry with a table block that only the next solid entry uses.
void ReadTrailingTableBlock(UnpackState& s, UnpackIo& io) {
  if (AbortRequested(io)) return;
  if (s.PackedFill < static_cast<std::int64_t>(s.PackedPos) + kTrailingSymbolBytes) return;
  if (s.AudioMode) {
    if (DecodeHuffmanSymbol(s, s.AudioTables[s.AudioChannel & 3]) == kAudioTableBlockSymbol) ReadTableBlock(s, io);
  } else {
    if (DecodeHuffmanSymbol(s, s.MainTable) == kTableBlockSymbol) ReadTableBlock(s, io);
  }
}

// A multimedia pass reads one code of at most 15 bits and writes one byte.
constexpr std::uint32_t kAudioPassBytes = 2;
static_assert((7 + 15) / 8 <= kAudioPassBytes);

// Multimedia passes of the main loop, as DecodeLzPasses does LZ ones; the table-block symbol
// ends the run.
void DecodeAudioPasses(UnpackState& s, UnpackIo& io) {
  std::uint32_t passes = UncheckedPasses(s, kAudioPassBytes, 1);
  BitBuffer in = BitBuffer::Load(s);
  std::uint8_t* const w = s.Window;
  std::uint32_t pos = s.WindowPos;
  std::int32_t remaining = io.RemainingOutput;
  do {
    pos &= WindowMask;
    in.Refill();
    const std::uint32_t symbol = DecodeHuffmanSymbol(in, s.AudioTables[s.AudioChannel & 3]);
    if (symbol == kAudioTableBlockSymbol) {
      in.Store(s);
      s.WindowPos = pos;
      io.RemainingOutput = remaining;
      ReadTableBlock(s, io);
      return;
    }
    w[pos++] = DecodeAudioByte(s, symbol);
    if (++s.AudioChannel >= s.AudioChannels) s.AudioChannel = 0;
    --remaining;
  } while (--passes != 0 && remaining >= 0);
  in.Store(s);
  s.WindowPos = pos;
  io.RemainingOutput = remaining;
}

// An LZ pass reads at most 15 + 5 + 15 + 16 bits; with up to 7 bits already used in the first
// byte that moves PackedPos by 7 bytes at most. (Table blocks read more, by their own rules.)
// One refill of the bit buffer covers a pass.
constexpr std::uint32_t kLzPassBytes = 7;
static_assert((7 + 15 + 5 + 15 + 16) / 8 <= kLzPassBytes);
static_assert(15 + 5 + 15 + 16 <= BitBuffer::kBitsAfterRefill, "a pass's bits, its last 16-bit peek included");
// A refill loads eight bytes from at most eight past the bits in use.
static_assert(kMainLoopRefillPos + kLzPassBytes + 15 < kPackedBufferSize + kPackedGuardBytes);

// Runs LZ passes of the main loop for as long as the checks at the top of a pass provably
// change nothing: counting from the pass the caller has just checked, PackedPos cannot pass
// the refill point and the window cannot come within kWindowReserve bytes of unflushed data,
// so the passes decode exactly what the checked loop would, with the input and window
// positions held in registers. Abort is polled by the caller once per run (at most about
// 1,200 passes) rather than once per pass. A table block ends the run: it reads by its own
// rules and may switch to multimedia mode.
void DecodeLzPasses(UnpackState& s, UnpackIo& io) {
  std::uint32_t passes = UncheckedPasses(s, kLzPassBytes, kLongestMatch);

  BitBuffer in = BitBuffer::Load(s);
  std::uint8_t* const w = s.Window;
  std::uint32_t pos = s.WindowPos;
  std::int32_t remaining = io.RemainingOutput;
  do {
    pos &= WindowMask;
    in.Refill();
    const std::uint32_t symbol = DecodeHuffmanSymbol(in, s.MainTable);
    if (symbol < 256) {
      w[pos++] = static_cast<std::uint8_t>(symbol);
      --remaining;
      // The next pass right here when it is unchecked too and a literal the fast table
      // knows: no trip round the loop and no refill (its code fits the 41 bits left).
      if (passes > 1 && remaining >= 0) {
        const std::uint32_t entry = s.MainTable.Fast[in.PeekTop<HuffmanTable<kMainAlphabet>::kFastBits>()];
        if (entry != 0 && (entry & 0xFFFF) < 256) {
          in.Skip(entry >> 16);
          pos &= WindowMask;
          w[pos++] = static_cast<std::uint8_t>(entry);
          --remaining;
          --passes;
        }
      }
      continue;
    }
    std::uint32_t distance;
    std::uint32_t length;
    if (symbol >= kLongMatchSymbol) {
      const std::uint32_t k = symbol - kLongMatchSymbol;
      length = kLengthBase[k] + kLongMatchMinimum + in.Read(kLengthExtraBits[k]);
      const std::uint32_t d = DecodeHuffmanSymbol(in, s.DistanceTable);
      distance = kDistanceBase[d] + 1 + in.Read(kDistanceExtraBits[d]);
      length += LongMatchBonus(distance);
    } else if (symbol == kTableBlockSymbol) {
      in.Store(s);
      s.WindowPos = pos;
      io.RemainingOutput = remaining;
      ReadTableBlock(s, io);
      return;
    } else if (symbol == kRepeatLastSymbol) {
      distance = s.LastMatchDistance;
      length = s.LastMatchLength;
    } else if (symbol < kShortMatchSymbol) {
      distance = s.RecentDistances[(s.RecentDistanceIndex - (symbol - kRepeatLastSymbol)) & 3];
      const std::uint32_t k = DecodeHuffmanSymbol(in, s.RepeatLengthTable);
      length = kLengthBase[k] + kRecentMatchMinimum + in.Read(kLengthExtraBits[k]) + RecentMatchBonus(distance);
    } else {
      const std::uint32_t k = symbol - kShortMatchSymbol;
      distance = kShortDistanceBase[k] + 1 + in.Read(kShortDistanceExtraBits[k]);
      length = 2;
    }
    // EmitMatch: every match kind becomes the last match and the newest recent distance.
    s.LastMatchDistance = distance;
    s.RecentDistances[s.RecentDistanceIndex & 3] = distance;
    s.RecentDistanceIndex += 1;
    s.LastMatchLength = length;
    remaining = static_cast<std::int32_t>(static_cast<std::uint32_t>(remaining) - length);
    pos = CopyWithinWindow(w, pos, distance, length);
  } while (--passes != 0 && remaining >= 0);
  in.Store(s);
  s.WindowPos = pos;
  io.RemainingOutput = remaining;
}

}  // namespace

void ResetUnpackState(UnpackState& s, bool solid) {
  s.PackedPos = 0;
  s.BitPos = 0;
  if (solid) return;
  std::memset(s.AudioStates, 0, sizeof s.AudioStates);
  s.CrossDelta = 0;
  std::memset(s.RecentDistances, 0, sizeof s.RecentDistances);
  s.RecentDistanceIndex = 0;
  s.LastMatchDistance = 0;
  s.LastMatchLength = 0;
  s.AudioChannel = 0;
  // A match may reach back past the entry's start into the whole window, which must read
  // as zeros there; only what was written since the last clearing can be anything else.
  NoteWindowWrites(s);
  std::memset(s.Window, 0, s.WindowDirtyEnd);
  s.WindowDirtyEnd = 0;
  std::memset(s.PreviousLengths, 0, sizeof s.PreviousLengths);
  s.FlushedPos = 0;
  s.WindowPos = 0;
}

void UnpackFormat20(UnpackState& s, UnpackIo& io, std::uint8_t* window, bool solid) {
  if (AbortRequested(io)) return;
  UseWindow(s, window);
  ResetUnpackState(s, solid);
  RefillPackedBuffer(s, io, true);
  if (!solid) ReadTableBlock(s, io);
  StartOutputCount(io);
  while (io.RemainingOutput >= 0) {
    s.WindowPos &= WindowMask;
    if (AbortRequested(io)) return;
    if (s.PackedPos > kMainLoopRefillPos) RefillPackedBuffer(s, io, false);
    if (PackedInputExhausted(s)) break;
    if (WindowNearlyFull(s)) FlushWindow(s, io);
    if (s.AudioMode) {
      DecodeAudioPasses(s, io);
    } else {
      DecodeLzPasses(s, io);
    }
  }
  ReadTrailingTableBlock(s, io);
  FlushWindow(s, io);
}

}  // namespace korvane
