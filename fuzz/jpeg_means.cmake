add_executable(jpeg_means_fuzz ${CMAKE_CURRENT_LIST_DIR}/jpeg_means_fuzz.cpp)
target_link_libraries(jpeg_means_fuzz PRIVATE decode)
target_link_options(jpeg_means_fuzz PRIVATE -fsanitize=fuzzer)
