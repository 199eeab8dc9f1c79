# Fuzz targets of the factory line: the texts a station's options give (sequences,
# slots, identity) and the files it writes from any text, and the COM-port server
# of the virtual board that any host on the loopback may talk to.
sealbench_fuzzer(fuzz_station_texts ${CMAKE_CURRENT_LIST_DIR}/fuzz_station_texts.cpp sealbench_station)
sealbench_fuzzer(fuzz_com_port_server ${CMAKE_CURRENT_LIST_DIR}/fuzz_com_port_server.cpp)
target_sources(fuzz_com_port_server PRIVATE ${PROJECT_SOURCE_DIR}/sim/com_port_server.cpp)
target_include_directories(fuzz_com_port_server PRIVATE ${PROJECT_SOURCE_DIR}/sim)
