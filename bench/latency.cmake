# Headless grabs from the local INN2 server through a proxy that delays every
# byte and may cap each link's rate, against the fewest round trips a client
# can make (tests/inn/start_inn.sh).
if(TARGET testsupport)
  add_executable(latency_bench ${CMAKE_CURRENT_LIST_DIR}/latency_bench.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/LatencyCorpus.cpp ${CMAKE_CURRENT_LIST_DIR}/LatencyCorpus.h
                 ${CMAKE_CURRENT_LIST_DIR}/LimitClient.cpp ${CMAKE_CURRENT_LIST_DIR}/LimitClient.h
                 ${CMAKE_CURRENT_LIST_DIR}/DelayProxy.cpp ${CMAKE_CURRENT_LIST_DIR}/DelayProxy.h
                 ${CMAKE_CURRENT_LIST_DIR}/RawNntpClient.cpp ${CMAKE_CURRENT_LIST_DIR}/RawNntpClient.h)
  target_link_libraries(latency_bench PRIVATE main testsupport Qt6::Widgets Qt6::Test)
  target_compile_definitions(latency_bench PRIVATE PIXTRAWL_BENCH_DIR="${CMAKE_CURRENT_LIST_DIR}")
endif()
