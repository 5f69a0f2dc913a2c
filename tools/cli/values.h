// Values that more than one command reads from its command line, and the few process calls
// their clean-up needs (safe in a signal handler).
#pragma once
#include <csignal>
#include <cstdint>

namespace korvane::cli {

// A positive whole number, optionally in KiB (k) or MiB (m) when sizeSuffix allows it.
bool ParsePositive(const char* text, bool sizeSuffix, std::uint64_t& out);
// A packing level, 0 (store) to 5, as -m takes it.
bool ParseLevel(const char* text, int& level);
// 'YYYY-MM-DD HH:MM:SS' from 1980 to 2107 as a DOS date and time.
bool ParseDosTime(const char* text, std::uint32_t& out);

// The signals that end a run, which then removes what it had not finished.
inline constexpr int kStopSignals[] = {
    SIGINT,
    SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
};

void RemovePath(const char* path);    // unlink, ignoring failure
void RemoveFolder(const char* path);  // rmdir of an empty folder, ignoring failure
long ProcessId();

}  // namespace korvane::cli
