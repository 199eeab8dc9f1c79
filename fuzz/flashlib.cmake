# Fuzz target of the flash libraries' streaming mode: the deflate decoder that
# takes whatever arrives on the line.
sealbench_fuzzer(fuzz_inflate ${CMAKE_CURRENT_LIST_DIR}/fuzz_inflate.cpp flashlib_inflate ZLIB::ZLIB)
