# Fuzz target of the download page's core: the memory-init script reader and the
# page's hexadecimal fields.
sealbench_fuzzer(fuzz_memory_init ${CMAKE_CURRENT_LIST_DIR}/fuzz_memory_init.cpp sealbench_download)
# The flash layout parser (TOML) and its placement checks.
sealbench_fuzzer(fuzz_flash_layout ${CMAKE_CURRENT_LIST_DIR}/fuzz_flash_layout.cpp sealbench_download)
