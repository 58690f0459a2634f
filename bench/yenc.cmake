# yEnc decoding against Debian's python3-sabyenc on the same article, in one run.
add_executable(yenc_bench ${CMAKE_CURRENT_LIST_DIR}/yenc_bench.cpp)
target_link_libraries(yenc_bench PRIVATE decode nntp Qt6::Core)
target_compile_definitions(yenc_bench PRIVATE PIXTRAWL_BENCH_DIR="${CMAKE_CURRENT_LIST_DIR}")
