# vantrel3-submit-bench: one uncontended submission before and after the exclusion
# between submitters (time and round trips), records per second with 8 submitters at
# once, and the CPU share of a submitter waiting behind a held lock.
add_executable(vantrel3-submit-bench ${CMAKE_CURRENT_LIST_DIR}/submit_bench.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/results_host_process.cpp ${PROJECT_SOURCE_DIR}/tests/support/temp_dir.cpp)
target_include_directories(vantrel3-submit-bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
target_link_libraries(vantrel3-submit-bench PRIVATE vantrel_core)
set_target_properties(vantrel3-submit-bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
