# A headless grab from the local INN2 server through a delaying proxy, against
# the fewest round trips a client can make (tests/inn/start_inn.sh).
if(TARGET testsupport)
  add_executable(latency_bench ${CMAKE_CURRENT_LIST_DIR}/latency_bench.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/DelayProxy.cpp ${CMAKE_CURRENT_LIST_DIR}/DelayProxy.h
                 ${CMAKE_CURRENT_LIST_DIR}/RawNntpClient.cpp ${CMAKE_CURRENT_LIST_DIR}/RawNntpClient.h)
  target_link_libraries(latency_bench PRIVATE main testsupport Qt6::Widgets Qt6::Test)
endif()
