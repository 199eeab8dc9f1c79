# Fuzz targets of the network serial ports: what a Telnet server sends, and the
# port addresses that users type.
sealbench_fuzzer(fuzz_telnet ${CMAKE_CURRENT_LIST_DIR}/fuzz_telnet.cpp bootwire_internal)
sealbench_fuzzer(fuzz_net_address ${CMAKE_CURRENT_LIST_DIR}/fuzz_net_address.cpp bootwire_internal)
