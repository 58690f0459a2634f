add_executable(checksums_bench ${CMAKE_CURRENT_LIST_DIR}/checksums_bench.cpp)
target_link_libraries(checksums_bench PRIVATE engine benchmark::benchmark)
