add_executable(yenc_fuzz ${CMAKE_CURRENT_LIST_DIR}/yenc_fuzz.cpp)
target_link_libraries(yenc_fuzz PRIVATE decode Qt6::Core)
target_link_options(yenc_fuzz PRIVATE -fsanitize=fuzzer)
