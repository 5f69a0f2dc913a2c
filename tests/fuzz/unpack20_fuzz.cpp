// Fuzz target: arbitrary bytes through the format 2.0 unpacker.
#include "tests/fuzz/unpack_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return korvane::fuzzing::RunUnpackerFuzzInput(korvane::UnpackFormat20, data, size);
}
