add_executable(nntp_fuzz ${CMAKE_CURRENT_LIST_DIR}/nntp_fuzz.cpp)
target_link_libraries(nntp_fuzz PRIVATE nntp Qt6::Core)
target_link_options(nntp_fuzz PRIVATE -fsanitize=fuzzer)
