# Steps per second of each test next to the cost of one timer read.
add_executable(vantrel3-run-bench ${CMAKE_CURRENT_LIST_DIR}/benchmark_run_bench.cpp)
target_link_libraries(vantrel3-run-bench PRIVATE vantrel_core)
set_target_properties(vantrel3-run-bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
