find_package(GTest REQUIRED)

# Every test program, so that a build can make just the tests and what they run.
add_custom_target(vantrel_tests)

# vantrel_add_test(name SOURCES a.cpp ... [LIBS ...] [QT] [ENV ...] [TIMEOUT s] [LABELS ...])
# QT marks a Qt Test executable (windows, offscreen); the others use GoogleTest.
# Each test is also labelled with its folder under tests/, "qt" for QT, and
# "tsan" for the toolkit-free transfer and submission tests, which run under
# ThreadSanitizer too (Qt is not instrumented, so it would only show noise).
function(vantrel_add_test name)
  cmake_parse_arguments(T "QT" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  list(APPEND T_LABELS ${folder})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE vantrel_testsupport ${T_LIBS})
  if(T_QT)
    target_link_libraries(${name} PRIVATE vantrel_windows Qt6::Test)
    list(APPEND T_LABELS qt)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main)
    target_sources(${name} PRIVATE $<TARGET_OBJECTS:vantrel_case_limit>)
    if(folder MATCHES "^(remote|submit)$")
      list(APPEND T_LABELS tsan)
    endif()
  endif()
  if(NOT VANTREL_SANITIZE MATCHES "thread" OR "tsan" IN_LIST T_LABELS)
    add_dependencies(vantrel_tests ${name})
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # A stuck Qt Test function fails after a minute, named (gtest programs have their own limit).
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTEST_FUNCTION_TIMEOUT=60000;VANTREL_SOURCE_DIR=${CMAKE_SOURCE_DIR};${T_ENV}")
endfunction()
