korvane_add_fuzzer(extract SOURCE extract_fuzz.cpp LIBS korvane_engine korvane_unpack korvane_platform REPLAY_DIRS ${KORVANE_CORPUS}/rar)
