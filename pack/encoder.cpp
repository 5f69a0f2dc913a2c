// Entries are packed in chunks of up to 256 KiB: each chunk is entered into the history,
// parsed and cut into blocks; where the bytes look like PCM (or always with the multimedia
// option) the chunk is also coded in multimedia blocks, and the smaller of the two is kept.
// The stream state of the decoder is tracked throughout and copied per candidate.
#include "pack/encoder.h"

#include <algorithm>
#include <array>
#include <cstring>

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
  ParserSettings parser;
  MatchFinderSettings finder;
  int splitEffort;
  bool tryAudio;
  bool pricedPass;  // parse once more, priced with the code lengths the first parse gives
  // The start of every entry that the parse searches in full, however few matches it finds.
  std::uint32_t thoroughBytes;
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
  std::size_t begin, end;  // byte offsets in the chunk
  bool audio;
};

// Where a chunk is best coded in LZ and where in multimedia blocks: for every piece the two
// estimates, and a table block's cost for every change (a shortest path over two states).
std::vector<Run> PlanModes(const std::vector<Token>& tokens, const AudioEstimate& audio, std::size_t count) {
  LzCounts counts;
  for (const Token& t : tokens) counts.Add(t);
  std::uint8_t lengths[kNormalBlockPositions];
  BuildLzLengths(counts, lengths);
  CostModel costs;
  costs.SetFromLengths(lengths);
  const std::size_t pieces = audio.pieceBits.size();
  std::vector<double> lzBits(pieces, 0);
  std::size_t pos = 0;
  for (const Token& t : tokens) {
    lzBits[pos / kModePiece] += costs.Bits(t);
    pos += t.length;
  }
  const double table[2] = {static_cast<double>(TableBlockBits(TableHistory{}, false, 1, lengths)), audio.tableBits};
  std::vector<std::array<bool, 2>> fromOther(pieces);  // the best way into (piece, mode) changed mode
  double cost[2] = {table[0], table[1]};
  for (std::size_t k = 0; k < pieces; ++k) {
    const double bits[2] = {lzBits[k], audio.pieceBits[k]};
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
      : settings_(settings), level_(LevelOf(settings.level)), finder_(level_.finder) {}

  bool StreamStarted() const { return streamStarted_; }

  void StartEntry(bool solid) {
    if (!solid || !streamStarted_) {
      state_ = StreamState{};
      finder_.StartStream();
      streamStarted_ = false;
    }
    entryState_ = state_;
    entryCosts_ = costs_;
    entryStart_ = finder_.End();
    entryStarted_ = streamStarted_;
    finder_.Mark();
    out_ = BitOutput();
    pending_.clear();
  }

  void Write(const std::uint8_t* data, std::size_t count) {
    while (count > 0) {
      if (pending_.empty() && count >= kChunk) {
        EncodeChunk(data, kChunk);
        data += kChunk;
        count -= kChunk;
        continue;
      }
      const std::size_t take = std::min(count, kChunk - pending_.size());
      pending_.insert(pending_.end(), data, data + take);
      data += take;
      count -= take;
      if (pending_.size() == kChunk) {
        EncodeChunk(pending_.data(), kChunk);
        pending_.clear();
      }
    }
  }

  void FinishEntry() {
    if (!pending_.empty()) EncodeChunk(pending_.data(), pending_.size());
    pending_.clear();
    if (!state_.tablesSent) {
      // An empty entry that starts a stream: the unpacker still reads its table block.
      std::uint8_t lengths[kNormalBlockPositions] = {};
      lengths[format20::kTableBlockSymbol] = 1;
      state_.WriteTables(out_, false, 1, lengths);
    }
    out_.FlushToByte();
    streamStarted_ = true;
  }

  std::vector<std::uint8_t>& Output() { return out_.Bytes(); }

  bool DiscardEntry() {
    if (!finder_.Rewind()) return false;
    state_ = entryState_;
    costs_ = entryCosts_;
    streamStarted_ = entryStarted_;
    out_ = BitOutput();
    pending_.clear();
    return true;
  }

 private:
  void EncodeChunk(const std::uint8_t* data, std::size_t count) {
    finder_.Append(data, static_cast<std::uint32_t>(count));
    const std::uint32_t end = finder_.End();
    const std::uint32_t begin = end - static_cast<std::uint32_t>(count);

    BitOutput lz = out_.Fork();
    StreamState lzState = state_;
    EncodeLz(lz, lzState, begin, end);

    if (settings_.multimedia || level_.tryAudio) {
      // Multimedia blocks where the estimates say they pay, LZ elsewhere; kept if smaller.
      const std::uint32_t channels = ChooseAudioChannels(state_, data, count).channels;
      const std::vector<Run> runs = PlanModes(tokens_, EstimateAudio(state_, data, count, channels, kModePiece), count);
      if (runs.size() > 1 || runs[0].audio) {
        BitOutput mixed = out_.Fork();
        StreamState mixedState = state_;
        for (const Run& run : runs) {
          if (run.audio) {
            WriteAudioStretch(mixed, mixedState, data + run.begin, run.end - run.begin, channels, level_.splitEffort);
          } else {
            EncodeLz(mixed, mixedState, begin + static_cast<std::uint32_t>(run.begin),
                     begin + static_cast<std::uint32_t>(run.end));
          }
        }
        if (mixed.BitCount() < lz.BitCount()) {
          out_.Join(std::move(mixed));
          state_ = mixedState;
          return;
        }
      }
    }
    out_.Join(std::move(lz));
    state_ = lzState;
  }

  void EncodeLz(BitOutput& out, StreamState& state, std::uint32_t begin, std::uint32_t end) {
    tokens_.clear();
    if (level_.pricedPass) {
      // A first, lazy parse gives the code lengths this stretch is likely to get; the real
      // parse is priced with them.
      MatchHistory trial = state.matches;
      ParserSettings lazy = level_.parser;
      lazy.kind = ParseKind::kLazy2;
      ParseStretch(finder_, lazy, costs_, begin, end, trial, tokens_);
      LzCounts counts;
      for (const Token& t : tokens_) counts.Add(t);
      std::uint8_t lengths[kNormalBlockPositions];
      BuildLzLengths(counts, lengths);
      costs_.SetFromLengths(lengths);
      tokens_.clear();
    }
    ParserSettings parser = level_.parser;
    parser.thoroughUntil = entryStart_ + level_.thoroughBytes;
    ParseStretch(finder_, parser, costs_, begin, end, state.matches, tokens_);
    const std::uint8_t* lengths = nullptr;
    for (const LzBlock& block : SplitLzBlocks(tokens_, level_.splitEffort))
      lengths = WriteLzBlock(out, state, tokens_.data(), block);
    if (lengths != nullptr) costs_.SetFromLengths(lengths);
  }

  EncoderSettings settings_;
  const Level& level_;
  MatchFinder finder_;
  CostModel costs_;
  StreamState state_;
  BitOutput out_;
  std::vector<std::uint8_t> pending_;
  std::vector<Token> tokens_;
  bool streamStarted_ = false;
  // Where the current entry started, for DiscardEntry.
  StreamState entryState_;
  CostModel entryCosts_;
  bool entryStarted_ = false;
  std::uint32_t entryStart_ = 0;  // stream position of the entry's first byte
};

Format20Encoder::Format20Encoder(const EncoderSettings& settings) : impl_(std::make_unique<Impl>(settings)) {}
Format20Encoder::~Format20Encoder() = default;
bool Format20Encoder::StreamStarted() const { return impl_->StreamStarted(); }
void Format20Encoder::StartEntry(bool solid) { impl_->StartEntry(solid); }
void Format20Encoder::Write(const std::uint8_t* data, std::size_t count) { impl_->Write(data, count); }
void Format20Encoder::FinishEntry() { impl_->FinishEntry(); }
std::vector<std::uint8_t>& Format20Encoder::Output() { return impl_->Output(); }
bool Format20Encoder::DiscardEntry() { return impl_->DiscardEntry(); }

}  // namespace korvane::pack
