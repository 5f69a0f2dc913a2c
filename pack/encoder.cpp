// Entries are packed in chunks of up to 256 KiB: each chunk is entered into the history,
// parsed and cut into blocks; where the bytes look like PCM (or always with the multimedia
// option) the chunk is also coded in multimedia blocks, and the smaller of the two is kept.
// The stream state of the decoder is tracked throughout and copied per candidate.
#include "pack/encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "pack/audio_encoder.h"
#include "pack/bit_output.h"
#include "pack/block_coder.h"
#include "pack/lz_parser.h"
#include "pack/match_finder.h"
#include "pack/stream_state.h"

namespace korvane::pack {
namespace {

constexpr std::size_t kChunk = 256 * 1024;
static_assert(kChunk <= MatchFinder::kMaxAppend);
// Pieces of a chunk between which the coding may change from LZ to multimedia and back.
constexpr std::size_t kModePiece = 4096;

struct Level {
  ParserSettings Parser;
  MatchFinderSettings Finder;
  int SplitEffort;
  bool TryAudio;
  bool PricedPass;  // parse once more, priced with the code lengths the first parse gives
  // The start of every entry that the parse searches in full, however few matches it finds.
  std::uint32_t ThoroughBytes;
};

// Parser: kind, nice length, length-2 matches, recent distances tried, positions entered
// inside a match up to, lazy below, literal-run skipping. Finder: hash bits, buckets,
// candidates, nice and good lengths, near matches. Then block-splitting effort, multimedia
// trials, a second, priced parse, and the bytes of each entry searched in full.
constexpr Level kLevels[] = {
    {},  // level 0 stores; the packer never asks for it
    {{ParseKind::kGreedy, 64, false, 2, 6, 32, 3}, {12, true, 3, 64, 32, false}, 0, false, false, 0},
    {{ParseKind::kLazy, 64, false, 2, 16, 8, 4}, {13, true, 6, 64, 32, false}, 1, false, false, 0},
    {{ParseKind::kLazy, 64, false, 2, 16, 16, 4}, {13, true, 8, 64, 32, false}, 2, false, false, 32768},
    {{ParseKind::kLazy2, 192, true}, {17, false, 48, 192, 64, true}, 2, true, false, 0},
    {{ParseKind::kOptimal, 192, true}, {17, false, 96, 192, 128, true}, 2, true, true, 0},
};

const Level& LevelOf(int level) { return kLevels[std::clamp(level, 1, 5)]; }

struct Run {
  std::size_t Begin, End;  // byte offsets in the chunk
  bool Audio;
};

// The code lengths of one table built from the tokens' own counts (into lengths), and the
// costs under it.
CostModel CostsOf(const std::vector<Token>& tokens, std::uint8_t* lengths) {
  LzCounts counts;
  for (const Token& t : tokens) counts.Add(t);
  BuildLzLengths(counts, lengths);
  CostModel costs;
  costs.SetFromLengths(lengths);
  return costs;
}

std::uint64_t BitsOf(const std::vector<Token>& tokens, const CostModel& costs) {
  std::uint64_t bits = 0;
  for (const Token& t : tokens) bits += costs.Bits(t);
  return bits;
}

// Where a chunk is best coded in LZ and where in multimedia blocks: for every piece the two
// estimates, and a table block's cost for every change (a shortest path over two states).
std::vector<Run> PlanModes(const std::vector<Token>& tokens, const AudioEstimate& audio, std::size_t count) {
  std::uint8_t lengths[kNormalBlockPositions];
  const CostModel costs = CostsOf(tokens, lengths);
  const std::size_t pieces = audio.PieceBits.size();
  std::vector<double> lzBits(pieces, 0);
  std::size_t pos = 0;
  for (const Token& t : tokens) {
    lzBits[pos / kModePiece] += costs.Bits(t);
    pos += t.Length;
  }
  const double table[2] = {static_cast<double>(TableBlockBits(TableHistory{}, false, 1, lengths)), audio.TableBits};
  std::vector<std::array<bool, 2>> fromOther(pieces);  // the best way into (piece, mode) changed mode
  double cost[2] = {table[0], table[1]};
  for (std::size_t k = 0; k < pieces; ++k) {
    const double bits[2] = {lzBits[k], audio.PieceBits[k]};
    double next[2];
    for (int m = 0; m < 2; ++m) {
      fromOther[k][m] = k > 0 && cost[1 - m] + table[m] < cost[m];
      next[m] = (fromOther[k][m] ? cost[1 - m] + table[m] : cost[m]) + bits[m];
    }
    cost[0] = next[0];
    cost[1] = next[1];
  }
  std::vector<Run> runs;
  bool mode = cost[1] < cost[0];
  std::size_t end = count;
  for (std::size_t k = pieces; k-- > 0;) {
    const bool changed = fromOther[k][mode];
    if (changed || k == 0) {
      runs.push_back(Run{k * kModePiece, end, mode});
      end = k * kModePiece;
      mode = !mode;
    }
  }
  std::reverse(runs.begin(), runs.end());
  return runs;
}

}  // namespace

class Format20Encoder::Impl {
 public:
  explicit Impl(const EncoderSettings& settings)
      : Settings(settings), Tuning(LevelOf(settings.Level)), Finder(Tuning.Finder) {}

  bool StreamStarted() const { return StreamBegun; }

  void StartEntry(bool solid) {
    if (!solid || !StreamBegun) {
      State = StreamState{};
      Finder.StartStream();
      StreamBegun = false;
    }
    EntryState = State;
    EntryCosts = Costs;
    EntryStart = Finder.End();
    EntryStarted = StreamBegun;
    Finder.Mark();
    Out = BitOutput();
    Pending.clear();
  }

  void Write(const std::uint8_t* data, std::size_t count) {
    while (count > 0) {
      if (Pending.empty() && count >= kChunk) {
        EncodeChunk(data, kChunk);
        data += kChunk;
        count -= kChunk;
        continue;
      }
      const std::size_t take = std::min(count, kChunk - Pending.size());
      Pending.insert(Pending.end(), data, data + take);
      data += take;
      count -= take;
      if (Pending.size() == kChunk) {
        EncodeChunk(Pending.data(), kChunk);
        Pending.clear();
      }
    }
  }

  void FinishEntry() {
    if (!Pending.empty()) EncodeChunk(Pending.data(), Pending.size());
    Pending.clear();
    if (!State.TablesSent) {
      // An empty entry that starts a stream: the unpacker still reads its table block.
      std::uint8_t lengths[kNormalBlockPositions] = {};
      lengths[format20::kTableBlockSymbol] = 1;
      State.WriteTables(Out, false, 1, lengths);
    }
    Out.FlushToByte();
    StreamBegun = true;
  }

  std::vector<std::uint8_t>& Output() { return Out.Bytes(); }

  bool DiscardEntry() {
    if (!Finder.Rewind()) return false;
    State = EntryState;
    Costs = EntryCosts;
    StreamBegun = EntryStarted;
    Out = BitOutput();
    Pending.clear();
    return true;
  }

 private:
  void EncodeChunk(const std::uint8_t* data, std::size_t count) {
    Finder.Append(data, static_cast<std::uint32_t>(count));
    const std::uint32_t end = Finder.End();
    const std::uint32_t begin = end - static_cast<std::uint32_t>(count);

    BitOutput lz = Out.Fork();
    StreamState lzState = State;
    EncodeLz(lz, lzState, begin, end);
    const CostModel lzCosts = Costs;  // the mixed trial reprices; a rejected one must not stay

    if (Settings.Multimedia || Tuning.TryAudio) {
      // Multimedia blocks where the estimates say they pay, LZ elsewhere; kept if smaller.
      const std::uint32_t channels = ChooseAudioChannels(State, data, count).Channels;
      const std::vector<Run> runs = PlanModes(Tokens, EstimateAudio(State, data, count, channels, kModePiece), count);
      if (runs.size() > 1 || runs[0].Audio) {
        BitOutput mixed = Out.Fork();
        StreamState mixedState = State;
        for (const Run& run : runs) {
          if (run.Audio) {
            WriteAudioStretch(mixed, mixedState, data + run.Begin, run.End - run.Begin, channels, Tuning.SplitEffort);
          } else {
            EncodeLz(mixed, mixedState, begin + static_cast<std::uint32_t>(run.Begin),
                     begin + static_cast<std::uint32_t>(run.End));
          }
        }
        if (mixed.BitCount() < lz.BitCount()) {
          Out.Join(std::move(mixed));
          State = mixedState;
          return;
        }
      }
    }
    Costs = lzCosts;
    Out.Join(std::move(lz));
    State = lzState;
  }

  void EncodeLz(BitOutput& out, StreamState& state, std::uint32_t begin, std::uint32_t end) {
    ParserSettings parser = Tuning.Parser;
    parser.ThoroughUntil = EntryStart + Tuning.ThoroughBytes;
    Tokens.clear();
    if (!Tuning.PricedPass) {
      ParseStretch(Finder, parser, Costs, begin, end, state.Matches, Tokens);
      WriteLz(out, state, Tokens);
      return;
    }
    // A first, lazy parse gives the code lengths this stretch is likely to get; the real parse
    // is priced with them. The one that costs less under the code lengths of its own counts is
    // written: prices taken from one parse hold the optimal one close to it, and on periodic
    // data (numbers, tables) the way they lead can be worse than the lazy parse's own.
    StreamState lazyState = state;
    ParserSettings lazy = parser;
    lazy.Kind = ParseKind::kLazy2;
    LazyTokens.clear();
    ParseStretch(Finder, lazy, Costs, begin, end, lazyState.Matches, LazyTokens);
    std::uint8_t lengths[kNormalBlockPositions];
    Costs = CostsOf(LazyTokens, lengths);
    const std::uint64_t lazyBits = BitsOf(LazyTokens, Costs);
    ParseStretch(Finder, parser, Costs, begin, end, state.Matches, Tokens);
    if (lazyBits < BitsOf(Tokens, CostsOf(Tokens, lengths))) {
      state = lazyState;
      Tokens.swap(LazyTokens);
    }
    WriteLz(out, state, Tokens);
  }

  // Cuts the tokens into blocks and writes them; the costs then follow the last tables.
  void WriteLz(BitOutput& out, StreamState& state, const std::vector<Token>& tokens) {
    const std::uint8_t* lengths = nullptr;
    for (const LzBlock& block : SplitLzBlocks(tokens, Tuning.SplitEffort))
      lengths = WriteLzBlock(out, state, tokens.data(), block);
    if (lengths != nullptr) Costs.SetFromLengths(lengths);
  }

  EncoderSettings Settings;
  const Level& Tuning;
  MatchFinder Finder;
  CostModel Costs;
  StreamState State;
  BitOutput Out;
  std::vector<std::uint8_t> Pending;
  std::vector<Token> Tokens;
  std::vector<Token> LazyTokens;  // the priced pass's first parse
  bool StreamBegun = false;
  // Where the current entry started, for DiscardEntry.
  StreamState EntryState;
  CostModel EntryCosts;
  bool EntryStarted = false;
  std::uint32_t EntryStart = 0;  // stream position of the entry's first byte
};

// An allocation that fails inside a step marks the encoder failed for good: the step may have
// stopped half way through its state.
template <typename Step>
bool Format20Encoder::Guarded(Step step) {
  if (!Body || OutOfMemory) return false;
  try {
    return step(*Body);
  } catch (const std::bad_alloc&) {
    OutOfMemory = true;
    return false;
  }
}

Format20Encoder::Format20Encoder(const EncoderSettings& settings) {
  try {
    Body = std::make_unique<Impl>(settings);
  } catch (const std::bad_alloc&) {
    OutOfMemory = true;
  }
}
Format20Encoder::~Format20Encoder() = default;
bool Format20Encoder::Failed() const { return OutOfMemory; }
bool Format20Encoder::StreamStarted() const { return Body && Body->StreamStarted(); }
bool Format20Encoder::StartEntry(bool solid) {
  return Guarded([&](Impl& b) { b.StartEntry(solid); return true; });
}
bool Format20Encoder::Write(const std::uint8_t* data, std::size_t count) {
  return Guarded([&](Impl& b) { b.Write(data, count); return true; });
}
bool Format20Encoder::FinishEntry() {
  return Guarded([](Impl& b) { b.FinishEntry(); return true; });
}
std::vector<std::uint8_t>& Format20Encoder::Output() { return Body ? Body->Output() : NoOutput; }
bool Format20Encoder::DiscardEntry() {
  return Guarded([](Impl& b) { return b.DiscardEntry(); });
}

}  // namespace korvane::pack
