// What the fuzz targets that run the engine share: a host that answers every question yes and
// shows nothing, and the input written to a temporary archive (the engine reads files by name).
#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/host.h"

namespace korvane::fuzzing {

class QuietHost final : public korvane::Host {
 public:
  void Tell(korvane::Notice, const char*) override {}
  bool Ask(korvane::Question, const char*) override { return true; }
  void ShowProgress() override {}
  void ReportStatus(korvane::Status) override {}
};

// The input as a .rar in the temp folder, named apart for each process (by where its stack lies)
// so that parallel fuzzing jobs keep to their own files; empty when it cannot be written.
inline std::string WriteTempArchive(const char* name, const std::uint8_t* data, std::size_t size) {
  std::error_code ec;
  const auto tag = std::to_string(reinterpret_cast<std::uintptr_t>(&ec) & 0xFFFFF);
  const std::string path =
      (std::filesystem::temp_directory_path(ec) / ("korvane-" + std::string(name) + "-fuzz-" + tag + ".rar")).string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return {};
  const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && written ? path : std::string();
}

}  // namespace korvane::fuzzing
