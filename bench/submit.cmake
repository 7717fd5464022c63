# vantrel3-submit-bench: one submission at several sizes of the shared file (time, time the
# host was held, bytes on the wire, peak memory) beside the whole-file way, eight submitters
# at once, and the CPU share of a submitter waiting behind a held lock.
add_executable(vantrel3-submit-bench ${CMAKE_CURRENT_LIST_DIR}/submit_bench.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/results_host_process.cpp ${PROJECT_SOURCE_DIR}/tests/support/temp_dir.cpp)
target_include_directories(vantrel3-submit-bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
target_link_libraries(vantrel3-submit-bench PRIVATE vantrel_core)
set_target_properties(vantrel3-submit-bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
