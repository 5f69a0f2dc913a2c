#include <algorithm>
#include <atomic>

#include "platform/disk_space.h"
#include "platform/file_layer.h"

namespace korvane {
namespace {

std::atomic<std::int64_t> g_simulatedFreeBytes{-1};
thread_local bool g_simulatedFull = false;

}  // namespace

void SimulateFreeSpaceForTests(std::int64_t bytes) { g_simulatedFreeBytes.store(bytes); }

std::uint32_t WriteWithinFreeSpace(FileHandle file, const void* buffer, std::uint32_t count) {
  g_simulatedFull = false;
  const std::int64_t room = g_simulatedFreeBytes.load();
  if (room < 0) return WriteFileRaw(file, buffer, count);
  const auto fits = static_cast<std::uint32_t>(std::min<std::int64_t>(count, room));
  const std::uint32_t written = fits == 0 ? 0 : WriteFileRaw(file, buffer, fits);
  g_simulatedFreeBytes.fetch_sub(written);
  g_simulatedFull = written == fits && fits < count;
  return written;
}

bool LastWriteFailedForSpace() { return g_simulatedFull || detail::SystemSaysDiskFull(); }

}  // namespace korvane
