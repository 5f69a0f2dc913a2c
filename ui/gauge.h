// Geometry of the progress window's two gauges: where the fill column, the marker
// triangle and the percentage go for a given job state. Painting is Windows code.
#pragma once
#include <array>
#include <cstdint>

namespace korvane::ui {

struct GaugePoint {
  std::int32_t X, Y;
};

struct GaugeGeometry {
  std::int32_t FillX, FillY, FillWidth, FillHeight;  // the stretched fill image
  std::array<GaugePoint, 3> Marker;                  // filled triangle pointing at the level
  std::int32_t TextRight, TextTop;                   // percentage, right-aligned
  char Text[16];                                     // "%.0f%%"
};

struct ProgressGauges {
  GaugeGeometry Total;  // volumes passed
  GaugeGeometry File;   // share of the current entry
};

// The total gauge stands on row 261 at x 328 and the file gauge on row 260 at x 197; both
// rise 203 pixels at 100%. Shares outside 0..1 (more volumes than the release announces, or
// a count of 0) are held at the gauge's ends so the column never leaves its frame.
ProgressGauges ComputeProgressGauges(std::int32_t currentVolume, std::int32_t volumeCount, float fileProgress);

}  // namespace korvane::ui
