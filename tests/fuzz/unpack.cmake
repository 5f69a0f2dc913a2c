# Fuzz targets of the unpackers; seeds in seeds/unpack20 and seeds/unpack15.
korvane_add_fuzzer(unpack20 SOURCE unpack20_fuzz.cpp LIBS korvane_unpack)
korvane_add_fuzzer(unpack15 SOURCE unpack15_fuzz.cpp LIBS korvane_unpack)
