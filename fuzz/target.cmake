# Fuzz target of the download page's core: the memory-init script reader and the
# page's hexadecimal fields.
sealbench_fuzzer(memory_init_fuzz ${CMAKE_CURRENT_LIST_DIR}/memory_init_fuzz.cpp sealbench_target)
