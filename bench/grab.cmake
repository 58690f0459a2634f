# Whole headless grabbing runs against the fake news server (needs the test fixtures).
if(TARGET testsupport)
  add_executable(grab_bench ${CMAKE_CURRENT_LIST_DIR}/grab_bench.cpp)
  target_link_libraries(grab_bench PRIVATE main testsupport Qt6::Widgets)
  target_compile_definitions(grab_bench PRIVATE PIXTRAWL_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
endif()
