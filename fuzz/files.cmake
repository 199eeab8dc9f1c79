# Fuzz targets of the file tools: the hex field parser, the HWC export and the
# combine's checks and layout.
sealbench_fuzzer(fuzz_hex_text ${CMAKE_CURRENT_LIST_DIR}/fuzz_hex_text.cpp sealbench_common)
sealbench_fuzzer(fuzz_hwc_export ${CMAKE_CURRENT_LIST_DIR}/fuzz_hwc_export.cpp sealbench_hwc)
sealbench_fuzzer(fuzz_combine ${CMAKE_CURRENT_LIST_DIR}/fuzz_combine.cpp sealbench_imagebuild)
