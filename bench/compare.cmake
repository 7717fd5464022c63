# vantrel3-list-bench: lists a generated results file of 100,000 records in the
# comparison window's real list view (offscreen) and reports the time, the memory
# next to the file's size, and the time to paint each page while scrolling.
add_executable(vantrel3-list-bench ${CMAKE_CURRENT_LIST_DIR}/list_bench.cpp)
target_link_libraries(vantrel3-list-bench PRIVATE vantrel_windows)
set_target_properties(vantrel3-list-bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
