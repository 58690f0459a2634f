# One very large article from the fake news server, preview on against off.
if(TARGET testsupport)
  add_executable(preview_bench ${CMAKE_CURRENT_LIST_DIR}/preview_bench.cpp)
  target_link_libraries(preview_bench PRIVATE main testsupport Qt6::Widgets)
endif()
