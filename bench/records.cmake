# vantrel3-decode-bench: decodes a generated results file of 100,000 records and
# sets it against a plain copy of the same bytes.
add_executable(vantrel3-decode-bench ${CMAKE_CURRENT_LIST_DIR}/decode_records.cpp)
target_link_libraries(vantrel3-decode-bench PRIVATE vantrel_core benchmark::benchmark)
set_target_properties(vantrel3-decode-bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
