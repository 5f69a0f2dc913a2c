korvane_add_fuzzer(pcx SOURCE ${CMAKE_CURRENT_LIST_DIR}/pcx_fuzz.cpp LIBS korvane_ui_core
  REPLAY_DIRS ${KORVANE_CORPUS}/pcx)
