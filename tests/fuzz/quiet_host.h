// The host for fuzz targets that run the engine: every box is answered OK, nothing is shown.
#pragma once
#include <cstdint>

#include "engine/host.h"

namespace korvane::fuzzing {

class QuietHost final : public korvane::Host {
 public:
  int ShowMessageBox(void*, const char*, const char*, std::uint32_t) override { return korvane::kIdOk; }
  void SendProgressMessage(void*, std::uintptr_t, std::intptr_t) override {}
  void ReportStatus(const char*) override {}
};

}  // namespace korvane::fuzzing
