# vantrel3-wait-bench: CPU cost of polling the transfer control while a deliberately
# slow transfer (a throttled local results host) runs, as a share of one core.
add_executable(vantrel3-wait-bench ${CMAKE_CURRENT_LIST_DIR}/transfer_wait_bench.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/results_host_process.cpp ${PROJECT_SOURCE_DIR}/tests/support/temp_dir.cpp)
target_include_directories(vantrel3-wait-bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
target_link_libraries(vantrel3-wait-bench PRIVATE vantrel_core)
set_target_properties(vantrel3-wait-bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
