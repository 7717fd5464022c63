# vantrel3-link-submitter: the submitters bench/internet-submit runs behind tools/link-sim.
add_executable(vantrel3-link-submitter ${CMAKE_CURRENT_LIST_DIR}/link_submitter.cpp)
target_link_libraries(vantrel3-link-submitter PRIVATE vantrel_core)
set_target_properties(vantrel3-link-submitter PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
