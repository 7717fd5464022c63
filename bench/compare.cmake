# vantrel3-list-bench: the comparison window's real list view (offscreen) against a
# results host holding a generated file of 1,000,000 records: the first list, a refresh
# after a few new records, the memory next to the file's size, and the time to paint
# each page while scrolling, next to a plain read and a plain download of the same bytes.
add_executable(vantrel3-list-bench ${CMAKE_CURRENT_LIST_DIR}/list_bench.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/results_host_process.cpp ${PROJECT_SOURCE_DIR}/tests/support/temp_dir.cpp)
target_include_directories(vantrel3-list-bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
target_link_libraries(vantrel3-list-bench PRIVATE vantrel_windows)
set_target_properties(vantrel3-list-bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
