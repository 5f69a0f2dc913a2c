// korvane play: renders a Protracker module to a WAV file or to raw PCM on standard output,
// or describes it. The PCM is the installer's own: the same reset and the same blocks that
// StartMusic queues on the wave output device, from the first block on.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "player/mod_player.h"
#include "player/module_check.h"
#include "tools/cli/commands.h"
#include "tools/cli/options.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "player/wave_output.h"
#endif

namespace korvane::cli {
namespace {

constexpr OptionEntry kPlayOptions[] = {
    {.Long = "wav", .Value = "FILE", .Help = "write a WAV file"},
    {.Long = "raw", .Help = "write the raw PCM (16-bit little-endian, left then right) to standard output"},
    {.Long = "seconds", .Value = "N", .Help = "length to render; default one pass through the song's orders,\n"
                                               "or 60 seconds when the song never repeats a row within an hour"},
    {.Long = "info", .Help = "print title, signature, channels, song length, patterns and samples"},
};

const CommandTable kPlayCommand{
    .Name = "play",
    .Options = kPlayOptions,
    .Operands = "MODULE",
    .Description = "Renders a Protracker module (M.K., FLT4, FLT8, 6CHN, 8CHN or the 15-sample layout)\n"
                   "as 44100 Hz 16-bit stereo, exactly as the installer plays it."
#ifdef _WIN32
                   "\nWith none of --wav, --raw and --info the module plays on the wave output device."
#endif
    ,
    .Epilogue = "exit codes: 0 done; 1 the output could not be written or played;\n"
                "            2 bad usage, the file cannot be read or is not a module",
};

constexpr double kMaxSeconds = 6 * 3600.0;  // keeps a WAV's data size within 32 bits
constexpr std::int64_t kDetectLimitFrames = 3600LL * kOutputRate;
constexpr std::int64_t kFallbackFrames = 60LL * kOutputRate;
static_assert(kMaxSeconds * kOutputRate * 4 + 36 < 4294967295.0);

struct Options {
  const char* Module = nullptr;
  const char* Wav = nullptr;
  bool Raw = false;
  bool Info = false;
  double Seconds = -1;
};

int Usage(const std::string& message) { return UsageError(kPlayCommand, message); }

// Reads the command line into o; -1 when the run is to go on, else the exit status.
int ReadOptions(int argc, char** argv, Options& o) {
  ParsedArgs args;
  if (const int status = ParseCommandLine(kPlayCommand, argc, argv, args); status >= 0) return status;
  o.Module = args.Operands()[0];
  o.Wav = args.Value("wav");
  o.Raw = args.Has("raw");
  o.Info = args.Has("info");
  if (const char* seconds = args.Value("seconds")) {
    char* end = nullptr;
    errno = 0;
    o.Seconds = std::strtod(seconds, &end);
    if (end == seconds || *end != '\0' || errno != 0 || !(o.Seconds > 0) || o.Seconds > kMaxSeconds)
      return Usage("--seconds takes a number of seconds above 0 and at most 21600, not '" + std::string(seconds) +
                   "'");
  }
  if (o.Raw && o.Info) return Usage("--raw writes PCM to standard output; it cannot be combined with --info");
#ifndef _WIN32
  if (!o.Raw && !o.Info && o.Wav == nullptr) return Usage("nothing to do: give --wav FILE, --raw or --info");
#endif
  return -1;
}

bool ReadFile(const char* path, std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  std::uint8_t chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

void PutLe(std::uint8_t* p, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::vector<std::uint8_t> WavHeader(std::int64_t frames) {
  std::vector<std::uint8_t> h(44);
  const std::uint32_t data = static_cast<std::uint32_t>(frames * 4);
  std::memcpy(&h[0], "RIFF", 4);
  PutLe(&h[4], 36 + data, 4);
  std::memcpy(&h[8], "WAVEfmt ", 8);
  PutLe(&h[16], 16, 4);
  PutLe(&h[20], 1, 2);  // PCM
  PutLe(&h[22], 2, 2);
  PutLe(&h[24], kOutputRate, 4);
  PutLe(&h[28], kOutputRate * 4, 4);
  PutLe(&h[32], 4, 2);
  PutLe(&h[34], 16, 2);
  std::memcpy(&h[36], "data", 4);
  PutLe(&h[40], data, 4);
  return h;
}

// Frames of one pass through the song (0 when none was found), measured on a copy so that
// the record that renders starts as the installer's does (set-finetune commands change
// the samples).
std::int64_t MeasurePass(const std::vector<std::uint8_t>& bytes) {
  ModPlayer scratch;
  if (LoadModule(scratch, bytes.data(), bytes.size()) == 0) return 0;
  return MeasureSongFrames(scratch, kDetectLimitFrames);
}

void PrintInfo(const ModPlayer& p, std::int64_t passFrames) {
  std::printf("title:       %s\n", p.title);
  if (p.signature[0] != '\0') {
    std::printf("signature:   %s (31 samples)\n", p.signature);
  } else {
    std::printf("signature:   none (15 samples)\n");
  }
  std::printf("channels:    %d\n", p.channelCount);
  std::printf("song length: %d orders\n", p.songLength);
  std::printf("patterns:    %d\n", p.patternCount);
  if (passFrames > 0) {
    const double s = static_cast<double>(passFrames) / kOutputRate;
    std::printf("one pass:    %d:%04.1f\n", static_cast<int>(s / 60), std::fmod(s, 60.0));
  } else {
    std::printf("one pass:    not found within an hour\n");
  }
  std::printf("samples:\n  %-3s %-22s %7s %4s %3s %10s %10s\n", "#", "name", "length", "fine", "vol",
              "loop start", "loop len");
  for (int s = 1; s < p.sampleSlots; ++s) {
    const ModSample& m = p.samples[s];
    if (m.length == 0 && m.name[0] == '\0') continue;
    std::printf("  %-3d %-22s %7d %4d %3d %10d %10d%s\n", s, m.name, m.length, m.finetune, m.volume, m.loopStart,
                m.loopLength, m.loops ? "" : (m.loopLength > 2 ? "  (played once)" : ""));
  }
}

// Renders `frames` frames to `out`, block by block as the wave output does.
bool Render(ModPlayer& player, std::int64_t frames, std::FILE* out) {
  if (ResetPlayState(player) == 0) return false;
  std::vector<std::uint8_t> block(kBlockBytes);
  while (frames > 0) {
    if (RenderBlock(player, block.data()) == 0) return false;
    const std::int64_t n = frames < kBlockFrames ? frames : kBlockFrames;
    if (std::fwrite(block.data(), 4, static_cast<std::size_t>(n), out) != static_cast<std::size_t>(n)) return false;
    frames -= n;
  }
  return std::fflush(out) == 0;
}

// The module and the length to render; -1 when the run is to go on, else the exit status.
int LoadSong(const Options& o, ModPlayer& player, std::int64_t& passFrames, std::int64_t& frames) {
  std::vector<std::uint8_t> bytes;
  if (!ReadFile(o.Module, bytes)) {
    std::fprintf(stderr, "korvane: cannot open module: %s: %s\n", o.Module, std::strerror(errno));
    return 2;
  }
  if (!LooksLikeModule(bytes.data(), bytes.size()) || LoadModule(player, bytes.data(), bytes.size()) == 0) {
    std::fprintf(stderr, "korvane: not a module: %s\n", o.Module);
    return 2;
  }
  passFrames = (o.Info || o.Seconds <= 0) ? MeasurePass(bytes) : 0;
  frames = passFrames > 0 ? passFrames : kFallbackFrames;
  if (o.Seconds > 0) frames = std::llround(o.Seconds * kOutputRate);
  return -1;
}

bool WriteWav(ModPlayer& player, std::int64_t frames, const char* path) {
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "korvane play: cannot create '%s': %s\n", path, std::strerror(errno));
    return false;
  }
  const std::vector<std::uint8_t> header = WavHeader(frames);
  bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size() && Render(player, frames, out);
  ok = std::fclose(out) == 0 && ok;
  if (!ok) std::fprintf(stderr, "korvane play: writing '%s' failed\n", path);
  return ok;
}

// Every output asked for, in turn; the exit status.
int PlaySong(const Options& o, ModPlayer& player, std::int64_t passFrames, std::int64_t frames) {
  if (o.Info) PrintInfo(player, passFrames);
  if (o.Wav != nullptr && !WriteWav(player, frames, o.Wav)) return 1;
  if (o.Raw) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (!Render(player, frames, stdout)) {
      std::fprintf(stderr, "korvane play: writing to standard output failed\n");
      return 1;
    }
  }
#ifdef _WIN32
  if (!o.Raw && !o.Info && o.Wav == nullptr) {
    WaveOutput output(player);
    if (StartMusic(output) == 0) {
      std::fprintf(stderr, "korvane play: the wave output device could not be opened\n");
      return 1;
    }
    Sleep(static_cast<DWORD>(frames * 1000 / kOutputRate));
    StopMusic(output);
  }
#endif
  return 0;
}

}  // namespace

int RunPlayCommand(int argc, char** argv) {
  Options o;
  if (const int status = ReadOptions(argc, argv, o); status >= 0) return status;
  ModPlayer player;
  std::int64_t passFrames = 0, frames = 0;
  if (const int status = LoadSong(o, player, passFrames, frames); status >= 0) return status;
  return PlaySong(o, player, passFrames, frames);
}

}  // namespace korvane::cli
