add_executable(rules_bench ${CMAKE_CURRENT_LIST_DIR}/rules_bench.cpp)
target_link_libraries(rules_bench PRIVATE engine benchmark::benchmark benchmark::benchmark_main)
