add_executable(crc_bench ${CMAKE_CURRENT_LIST_DIR}/crc_bench.cpp)
target_link_libraries(crc_bench PRIVATE decode ZLIB::ZLIB benchmark::benchmark benchmark::benchmark_main)
