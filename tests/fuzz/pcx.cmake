korvane_add_fuzzer(pcx SOURCE ${CMAKE_CURRENT_LIST_DIR}/pcx_fuzz.cpp LIBS korvane_ui_core
  REPLAY_DIRS ${KORVANE_CORPUS}/pcx)
# The fuzzer only steers by the edges it can see: the decoder's library gets the coverage
# instrumentation (and the sanitizers) in fuzz builds too, not just the target's own file.
# Only where no plain test links the same library.
if(KORVANE_FUZZ AND NOT KORVANE_TESTS)
  target_compile_options(korvane_ui_core PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
endif()
