# Fuzz targets of the flash libraries' streaming mode: the deflate decoder that
# takes whatever arrives on the line.
sealbench_fuzzer(fuzz_inflate ${CMAKE_CURRENT_LIST_DIR}/fuzz_inflate.cpp flashlib_inflate ZLIB::ZLIB)

# The streaming session as the host's frames drive it (every kind, with good CRCs,
# and noise), on the board's real NOR and NAND models.
sealbench_fuzzer(fuzz_stream ${CMAKE_CURRENT_LIST_DIR}/fuzz_stream.cpp flashlib_core_native vireo_flash ZLIB::ZLIB)
