# Needs the test fixtures (fake news server, temporary program folder).
if(TARGET testsupport)
  add_executable(reconnect_bench ${CMAKE_CURRENT_LIST_DIR}/reconnect_bench.cpp)
  target_link_libraries(reconnect_bench PRIVATE main testsupport Qt6::Widgets Qt6::Test benchmark::benchmark)
endif()
