# The built pixtrawl run as a user runs it, window and --grab, each a new
# process with fresh settings, against the limit client (latency.cmake).
if(TARGET testsupport)
  add_executable(user_run_bench ${CMAKE_CURRENT_LIST_DIR}/user_run_bench.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/LatencyCorpus.cpp ${CMAKE_CURRENT_LIST_DIR}/LatencyCorpus.h
                 ${CMAKE_CURRENT_LIST_DIR}/LimitClient.cpp ${CMAKE_CURRENT_LIST_DIR}/LimitClient.h
                 ${CMAKE_CURRENT_LIST_DIR}/DelayProxy.cpp ${CMAKE_CURRENT_LIST_DIR}/DelayProxy.h
                 ${CMAKE_CURRENT_LIST_DIR}/RawNntpClient.cpp ${CMAKE_CURRENT_LIST_DIR}/RawNntpClient.h)
  target_link_libraries(user_run_bench PRIVATE testsupport Qt6::Gui)
  target_compile_definitions(user_run_bench PRIVATE PIXTRAWL_BENCH_DIR="${CMAKE_CURRENT_LIST_DIR}"
                             PIXTRAWL_EXE="$<TARGET_FILE:pixtrawl>")
endif()
