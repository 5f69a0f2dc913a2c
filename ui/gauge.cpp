// Gauge geometry of the progress window.
#include "ui/gauge.h"

#include <cmath>
#include <cstdio>

namespace korvane::ui {
namespace {

constexpr std::int32_t kGaugeRise = 203;
constexpr std::int32_t kFillWidth = 29;

float Clamp01(float f) {
  if (!(f > 0.0f)) return 0.0f;  // also catches NaN
  return f > 1.0f ? 1.0f : f;
}

GaugeGeometry Gauge(float share, std::int32_t base, std::int32_t fillX, std::int32_t markerTip,
                    std::int32_t textRight) {
  const float f = Clamp01(share);
  GaugeGeometry g{};
  // The fraction is dropped towards zero after the float product, as the gauge always did.
  const auto y = static_cast<std::int32_t>(static_cast<float>(base) - static_cast<float>(kGaugeRise) * f);
  g.FillX = fillX;
  g.FillY = y;
  g.FillWidth = kFillWidth;
  g.FillHeight = base - y;
  g.Marker = {{{markerTip, y}, {markerTip - 5, y - 6}, {markerTip - 5, y + 6}}};
  g.TextRight = textRight;
  g.TextTop = y - 6;
  std::snprintf(g.Text, sizeof g.Text, "%.0f%%", static_cast<double>(f * 100.0f));
  return g;
}

}  // namespace

ProgressGauges ComputeProgressGauges(std::int32_t currentVolume, std::int32_t volumeCount, float fileProgress) {
  const float total =
      volumeCount > 0 ? static_cast<float>(currentVolume - 1) / static_cast<float>(volumeCount) : 0.0f;
  return {Gauge(total, 261, 328, 313, 305), Gauge(fileProgress, 260, 197, 182, 174)};
}

}  // namespace korvane::ui
