// The predictor's residuals, their estimated and their real coding in blocks of per-channel
// tables, ended where the splitter finds new tables pay.
#include "pack/audio_encoder.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "pack/block_split.h"
#include "pack/prefix_code.h"
#include "unpack/audio_predictor.h"

namespace korvane::pack {
namespace {

using format20::kAudioTableBlockSymbol;

constexpr std::size_t kSampleBytes = 65536;

// The first channel the decoder uses for the stretch: a block of fewer channels than the
// current one sends it back to channel 0.
std::uint32_t FirstChannel(const StreamState& state, std::uint32_t channels) {
  return state.AudioChannel >= channels ? 0 : state.AudioChannel;
}

// Residual symbols of count bytes from the channel `first` on, advancing the predictor.
void Residuals(StreamState& state, std::uint32_t first, std::uint32_t channels, const std::uint8_t* data,
               std::size_t count, std::uint8_t* symbols) {
  std::uint32_t channel = first;
  for (std::size_t i = 0; i < count; ++i) {
    AudioChannelState& c = state.Audio[channel];
    const std::uint32_t symbol = (PredictAudioByte(c, state.CrossDelta) - data[i]) & 0xFF;
    AdaptAudioChannel(c, state.CrossDelta, symbol, data[i]);
    symbols[i] = static_cast<std::uint8_t>(symbol);
    if (++channel == channels) channel = 0;
  }
}

double EntropyBits(const std::uint32_t* counts, std::size_t n) {
  double total = 0, sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (counts[i] == 0) continue;
    total += counts[i];
    sum += counts[i] * std::log2(static_cast<double>(counts[i]));
  }
  return total > 0 ? total * std::log2(total) - sum : 0;
}

}  // namespace

ChannelChoice ChooseAudioChannels(const StreamState& state, const std::uint8_t* data, std::size_t count) {
  ChannelChoice choice;
  const std::size_t n = std::min(count, kSampleBytes);
  if (n == 0) return choice;
  std::uint32_t plain[256] = {};
  for (std::size_t i = 0; i < n; ++i) ++plain[data[i]];
  choice.PlainBits = EntropyBits(plain, 256) / static_cast<double>(n);
  choice.ResidualBits = 1e9;
  std::vector<std::uint8_t> symbols(n);
  for (std::uint32_t channels = 1; channels <= kMaxAudioChannels; ++channels) {
    StreamState trial = state;
    const std::uint32_t first = FirstChannel(trial, channels);
    Residuals(trial, first, channels, data, n, symbols.data());
    std::vector<std::uint32_t> counts(256 * channels, 0);
    for (std::size_t i = 0; i < n; ++i) ++counts[256 * ((first + i) % channels) + symbols[i]];
    double bits = 0;
    for (std::uint32_t j = 0; j < channels; ++j) bits += EntropyBits(&counts[256 * j], 256);
    bits /= static_cast<double>(n);
    if (bits < choice.ResidualBits) choice = ChannelChoice{channels, bits, choice.PlainBits};
  }
  return choice;
}

AudioEstimate EstimateAudio(const StreamState& state, const std::uint8_t* data, std::size_t count,
                            std::uint32_t channels, std::size_t piece) {
  AudioEstimate estimate;
  StreamState trial = state;
  const std::uint32_t first = FirstChannel(trial, channels);
  std::vector<std::uint8_t> symbols(count);
  Residuals(trial, first, channels, data, count, symbols.data());
  const std::uint32_t positions = static_cast<std::uint32_t>(kAudioAlphabet) * channels;
  std::vector<std::uint32_t> counts(positions, 0);
  std::vector<std::uint32_t> totals(channels, 0);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t channel = static_cast<std::uint32_t>((first + i) % channels);
    ++counts[kAudioAlphabet * channel + symbols[i]];
    ++totals[channel];
  }
  std::vector<double> price(positions, 0);
  for (std::uint32_t at = 0; at < positions; ++at)
    if (counts[at] != 0) price[at] = std::log2(static_cast<double>(totals[at / kAudioAlphabet]) / counts[at]);
  for (std::size_t begin = 0; begin < count; begin += piece) {
    double bits = 0;
    for (std::size_t i = begin; i < std::min(count, begin + piece); ++i)
      bits += price[kAudioAlphabet * ((first + i) % channels) + symbols[i]];
    estimate.PieceBits.push_back(bits);
  }
  std::vector<std::uint8_t> lengths(positions);
  for (std::uint32_t j = 0; j < channels; ++j) {
    counts[kAudioAlphabet * j + kAudioTableBlockSymbol] = 1;
    BuildCodeLengths(&counts[kAudioAlphabet * j], static_cast<std::uint32_t>(kAudioAlphabet), kMaxCodeLength,
                     &lengths[kAudioAlphabet * j]);
  }
  estimate.TableBits = TableBlockBits(TableHistory{}, true, channels, lengths.data());
  return estimate;
}

void WriteAudioStretch(BitOutput& out, StreamState& state, const std::uint8_t* data, std::size_t count,
                       std::uint32_t channels, int effort) {
  if (count == 0) return;
  const std::uint32_t first = FirstChannel(state, channels);
  std::vector<std::uint8_t> symbols(count);
  Residuals(state, first, channels, data, count, symbols.data());
  const std::uint32_t positions = static_cast<std::uint32_t>(kAudioAlphabet) * channels;
  const auto positionOf = [&](std::size_t i) {
    return static_cast<std::uint32_t>(kAudioAlphabet * ((first + i) % channels) + symbols[i]);
  };

  static constexpr std::size_t kPiece[3] = {65536, 16384, 4096};
  const std::size_t piece = kPiece[std::clamp(effort, 0, 2)];
  std::vector<std::uint32_t> tableEnds;
  for (std::uint32_t j = 1; j <= channels; ++j) tableEnds.push_back(static_cast<std::uint32_t>(kAudioAlphabet) * j);
  BlockSplitter splitter(tableEnds);
  std::vector<std::uint32_t> counts(positions);
  for (std::size_t begin = 0; begin < count; begin += piece) {
    std::fill(counts.begin(), counts.end(), 0);
    for (std::size_t i = begin; i < std::min(count, begin + piece); ++i) ++counts[positionOf(i)];
    splitter.AddPiece(counts.data());
  }
  std::vector<std::size_t> starts = splitter.Split();
  starts.push_back(splitter.Pieces());

  std::vector<std::uint8_t> lengths(positions);
  for (std::size_t b = 0; b + 1 < starts.size(); ++b) {
    const std::size_t begin = starts[b] * piece, end = std::min(count, starts[b + 1] * piece);
    std::fill(counts.begin(), counts.end(), 0);
    for (std::size_t i = begin; i < end; ++i) ++counts[positionOf(i)];
    // Every channel's table codes the block symbol: the next block may begin on any channel.
    for (std::uint32_t j = 0; j < channels; ++j) {
      std::uint32_t* c = &counts[kAudioAlphabet * j];
      c[kAudioTableBlockSymbol] = std::max(c[kAudioTableBlockSymbol], 1u);
      BuildCodeLengths(c, static_cast<std::uint32_t>(kAudioAlphabet), kMaxCodeLength, &lengths[kAudioAlphabet * j]);
      c[kAudioTableBlockSymbol] -= 1;
    }
    const TableBlockPlan plan = PlanTableBlock(state.Tables, true, channels, lengths.data());
    bool reuse = state.TablesSent && state.AudioMode() && state.Channels() == channels;
    for (std::uint32_t i = 0; i < positions && reuse; ++i) reuse = counts[i] == 0 || state.Lengths()[i] != 0;
    if (reuse) {
      const std::uint64_t withCurrent = CodedBits(counts.data(), state.Lengths(), positions);
      const std::uint64_t withNew =
          CodedBits(counts.data(), lengths.data(), positions) + state.SwitchBits() + plan.Bits;
      reuse = withCurrent <= withNew;
    }
    // The symbol announcing a later block is read from the table of the channel whose byte is
    // next (the first block's from the channel the stream is at, which the block then resets).
    if (b > 0) state.AudioChannel = static_cast<std::uint32_t>((first + begin) % channels);
    if (!reuse) state.WriteTables(out, plan, lengths.data());
    const std::uint8_t* l = state.Lengths();
    for (std::size_t i = begin; i < end; ++i) {
      const std::uint32_t at = positionOf(i);
      out.Put(state.Codes[at], l[at]);
    }
  }
  state.AudioChannel = static_cast<std::uint32_t>((first + count) % channels);
}

}  // namespace korvane::pack
