korvane_add_fuzzer(archive SOURCE archive_fuzz.cpp LIBS korvane_engine korvane_platform REPLAY_DIRS ${KORVANE_CORPUS}/rar)
