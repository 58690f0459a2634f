add_executable(jpeg_fuzz ${CMAKE_CURRENT_LIST_DIR}/jpeg_fuzz.cpp)
target_link_libraries(jpeg_fuzz PRIVATE widgets)
target_link_options(jpeg_fuzz PRIVATE -fsanitize=fuzzer)
