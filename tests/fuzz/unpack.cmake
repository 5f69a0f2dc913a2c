# Fuzz targets of the unpackers; seeds in seeds/unpack20 and seeds/unpack15.
korvane_add_fuzzer(unpack20 SOURCE unpack20_fuzz.cpp LIBS korvane_unpack)
korvane_add_fuzzer(unpack15 SOURCE unpack15_fuzz.cpp LIBS korvane_unpack)
# libFuzzer steers only by the edges it sees, and the sanitizers check only instrumented
# code: instrument the unpackers themselves in fuzz-only builds (no plain test links them
# there), optimised so that large outputs do not dominate a run.
if(KORVANE_FUZZ AND NOT KORVANE_TESTS AND TARGET korvane_unpack)
  target_compile_options(korvane_unpack PRIVATE -fsanitize=fuzzer-no-link,address,undefined -O2)
endif()
