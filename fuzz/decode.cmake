add_executable(decode_fuzz ${CMAKE_CURRENT_LIST_DIR}/decode_fuzz.cpp)
target_link_libraries(decode_fuzz PRIVATE decode Qt6::Core)
target_link_options(decode_fuzz PRIVATE -fsanitize=fuzzer)
