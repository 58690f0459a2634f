add_executable(nntp_bench ${CMAKE_CURRENT_LIST_DIR}/nntp_bench.cpp)
target_link_libraries(nntp_bench PRIVATE nntp Qt6::Core benchmark::benchmark)
