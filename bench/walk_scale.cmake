# The engine's headless walk of a million generated articles from the fake
# news server: peak memory and time per article at the start and the end.
if(TARGET testsupport)
  add_executable(walk_scale_bench ${CMAKE_CURRENT_LIST_DIR}/walk_scale_bench.cpp)
  target_link_libraries(walk_scale_bench PRIVATE engine testsupport Qt6::Core Qt6::Network)
endif()
