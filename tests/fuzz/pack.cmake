# The packer's fuzz target: every input must come back from the unpacker; seeds in seeds/pack.
korvane_add_fuzzer(pack SOURCE pack_fuzz.cpp LIBS korvane_pack korvane_unpack)
foreach(target pack_fuzz pack_replay)
  if(TARGET ${target})
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/pack/round_trip.cpp)
  endif()
endforeach()
# Optimised in fuzz-only builds, so that a run spends its time on inputs, not on slow parses.
if(KORVANE_FUZZ AND NOT KORVANE_TESTS AND TARGET korvane_pack)
  target_compile_options(korvane_pack PRIVATE -O2)
endif()
