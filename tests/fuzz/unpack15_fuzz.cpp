// Fuzz target: arbitrary bytes through the format 1.5 unpacker.
#include "tests/fuzz/unpack_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return korvane::fuzzing::RunUnpackerFuzzInput(korvane::UnpackFormat15, data, size);
}
