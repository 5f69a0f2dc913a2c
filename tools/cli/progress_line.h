// One line of progress on stderr, redrawn in place: a bar of twenty steps, the percentage,
// optionally the rate and the time left, and the command's own detail text.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace korvane::cli {

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  // What changed since the last report besides the bytes.
  enum class Change { kNone, kDetail, kStage };

  // show false draws nothing; withRate adds the rate and the time left once the run has
  // lasted long enough for them to mean something, and refreshes them twice a second.
  ProgressLine(bool show, bool withRate, std::FILE* out = stderr);

  // A new percentage or stage is always drawn, a new detail at most ten times a second;
  // true when the line was drawn.
  bool Update(std::uint64_t done, std::uint64_t total, const std::string& detail, Change change = Change::kNone);
  void Clear();  // before any other line is printed, and at the end
  bool Drawn() const { return IsDrawn; }

 private:
  std::FILE* Out;
  bool Show, WithRate;
  Clock::time_point Start, ShownAt;
  int LastPercent = -1;
  bool IsDrawn = false;
};

}  // namespace korvane::cli
