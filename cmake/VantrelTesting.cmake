find_package(GTest REQUIRED)

# vantrel_add_test(name SOURCES a.cpp ... [LIBS ...] [QT] [ENV ...] [TIMEOUT s] [LABELS ...])
# QT marks a Qt Test executable (windows, offscreen); the others use GoogleTest.
function(vantrel_add_test name)
  cmake_parse_arguments(T "QT" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE vantrel_testsupport ${T_LIBS})
  if(T_QT)
    target_link_libraries(${name} PRIVATE vantrel_windows Qt6::Test)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VANTREL_SOURCE_DIR=${CMAKE_SOURCE_DIR};${T_ENV}")
endfunction()
