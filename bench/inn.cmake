# A whole headless grab of freshly posted articles from the local INN2 server
# (tests/inn/start_inn.sh), plain or over TLS with a login.
if(TARGET testsupport)
  add_executable(inn_grab_bench ${CMAKE_CURRENT_LIST_DIR}/inn_grab_bench.cpp)
  target_link_libraries(inn_grab_bench PRIVATE main testsupport Qt6::Widgets Qt6::Test)
endif()
