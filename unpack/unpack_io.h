// What an unpacker needs from the engine: its packed input, somewhere to put its output,
// the stop word it polls and the count of unpacked bytes still owed for the entry.
// The engine implements it over its volumes and output file; tests implement it over memory.
#pragma once
#include <atomic>
#include <cstdint>

namespace korvane {

class UnpackIo {
 public:
  UnpackIo(const std::atomic<std::int32_t>& abort, std::int32_t& remainingOutput)
      : Abort(abort), RemainingOutput(remainingOutput) {}

  // Up to count packed bytes of the current entry, continuing into the next volume when the
  // entry is split; 0 when nothing is left or the job was aborted. Called once per refill.
  virtual std::uint32_t ReadPackedData(std::uint8_t* buffer, std::uint32_t count) = 0;
  // Hands a finished stretch of the window on (file, checksum, progress). Called per flush.
  virtual std::uint32_t WriteUnpackedData(const std::uint8_t* buffer, std::uint32_t count) = 0;

  const std::atomic<std::int32_t>& Abort;  // the job's Abort: non-zero stops at the next pass
  std::int32_t& RemainingOutput;           // the session's remaining output; unpackers count it down

 protected:
  ~UnpackIo() = default;
};

}  // namespace korvane
