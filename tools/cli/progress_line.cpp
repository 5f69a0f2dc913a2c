#include "tools/cli/progress_line.h"

#include <algorithm>
#include <cmath>

namespace korvane::cli {

ProgressLine::ProgressLine(bool show, bool withRate, std::FILE* out)
    : Out(out), Show(show), WithRate(withRate), Start(Clock::now()) {}

bool ProgressLine::Update(std::uint64_t done, std::uint64_t total, const std::string& detail, Change change) {
  if (!Show) return false;
  const int percent = total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(done * 100 / total, 100));
  const Clock::time_point now = Clock::now();
  const auto sinceShown = now - ShownAt;
  const bool due = percent != LastPercent || change == Change::kStage ||
                   (change == Change::kDetail && sinceShown > std::chrono::milliseconds(100)) ||
                   (WithRate && sinceShown >= std::chrono::milliseconds(500));
  if (!due) return false;
  LastPercent = percent;
  ShownAt = now;

  char bar[21];
  for (int i = 0; i < 20; ++i) bar[i] = i < percent / 5 ? '#' : '.';
  bar[20] = '\0';
  char rate[64] = "";
  const double seconds = std::chrono::duration<double>(now - Start).count();
  if (WithRate && seconds >= 1.5 && done > 0) {
    const double perSecond = static_cast<double>(done) / seconds;
    const long left = std::lround(static_cast<double>(total - std::min(done, total)) / perSecond);
    std::snprintf(rate, sizeof rate, "  %.1f MB/s  %ld:%02ld left", perSecond / 1e6, left / 60, left % 60);
  }
  std::fprintf(Out, "\r[%s] %3d%%%s%s\x1b[K", bar, percent, rate, detail.c_str());
  std::fflush(Out);
  IsDrawn = true;
  return true;
}

void ProgressLine::Clear() {
  if (!IsDrawn) return;
  std::fputs("\r\x1b[K", Out);
  IsDrawn = false;
}

}  // namespace korvane::cli
