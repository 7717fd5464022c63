# Steps per second of each test next to the cost of one timer read.
add_executable(bench_benchmark_run ${CMAKE_CURRENT_LIST_DIR}/benchmark_run_bench.cpp)
target_link_libraries(bench_benchmark_run PRIVATE vantrel_core)
