add_executable(groups_bench ${CMAKE_CURRENT_LIST_DIR}/groups_bench.cpp)
target_link_libraries(groups_bench PRIVATE dialogs testsupport Qt6::Widgets)
