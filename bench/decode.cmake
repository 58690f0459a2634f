add_executable(decode_bench ${CMAKE_CURRENT_LIST_DIR}/decode_bench.cpp)
target_link_libraries(decode_bench PRIVATE decode Qt6::Core benchmark::benchmark benchmark::benchmark_main)
