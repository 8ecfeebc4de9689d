# SPDX-License-Identifier: AGPL-3.0-or-later
# ormaview_add_gtest(NAME SOURCES a.cpp ... LIBS lib ...)
# A GoogleTest executable whose tests are registered with CTest one by one.
function(ormaview_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ormaview_test_support GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "ORMAVIEW_TEST_BIN_DIR=${CMAKE_BINARY_DIR};QT_QPA_PLATFORM=offscreen")
endfunction()
