# The module player's fuzz target; the shared module corpus is replayed too when present.
korvane_add_fuzzer(modplayer
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/player_fuzz.cpp
  LIBS korvane_player
  REPLAY_DIRS ${KORVANE_CORPUS}/mod)
# libFuzzer only sees coverage in instrumented code: instrument the player itself in the
# fuzz-only builds (no plain test links it there), optimised so that the
# rendering part of each input does not dominate the run.
if(KORVANE_FUZZ AND NOT KORVANE_TESTS AND TARGET korvane_player)
  target_compile_options(korvane_player PRIVATE -fsanitize=fuzzer-no-link,address,undefined -O2)
endif()
