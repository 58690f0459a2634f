add_executable(inflate_fuzz ${CMAKE_CURRENT_LIST_DIR}/inflate_fuzz.cpp)
target_link_libraries(inflate_fuzz PRIVATE nntp Qt6::Core)
target_link_options(inflate_fuzz PRIVATE -fsanitize=fuzzer)
