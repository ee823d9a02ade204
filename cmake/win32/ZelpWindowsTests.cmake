# The tests of a Windows build, which run under Wine (the toolchain's
# emulator). Included by tests/CMakeLists.txt in place of find_package(GTest).
#
# GoogleTest comes from Debian's source package, built with the cross
# compiler. Each test program is one ctest test: a Wine start costs more than
# a whole program's cases, and per-case discovery would start every program
# once more at build time. Under Wine a program can also end with status 0
# without having run at all (a 32-bit one on a Wine without its 32-bit half
# does), so every program links a listener that prints how many tests ran and
# how many failed, and ctest passes a program on that line only.

set(ZELP_GOOGLETEST_SOURCE_DIR /usr/src/googletest
    CACHE PATH "GoogleTest sources for builds that cannot use the system's libraries")
set(ZELP_WINEPREFIX ${PROJECT_SOURCE_DIR}/build/wineprefix
    CACHE PATH "The Wine prefix the Windows tests run in (created on first use)")
# Wine starts an installed kernel driver at every start of its prefix, so the
# test printers' driver has a prefix to itself.
set(ZELP_DRIVER_WINEPREFIX ${PROJECT_SOURCE_DIR}/build/wineprefix-driver
    CACHE PATH "The Wine prefix the test printers' driver is installed in (created on first use)")

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(INSTALL_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZELP_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

include(GoogleTest)

add_library(zelp_tests_ran_marker OBJECT
  ${PROJECT_SOURCE_DIR}/tests/win32/support/tests_ran_marker.cpp)
zelp_target_defaults(zelp_tests_ran_marker)
target_link_libraries(zelp_tests_ran_marker PUBLIC GTest::gtest)

# The Wine session every Windows test runs in: the prefix, one wineserver
# for all programs, and the ptys behind LPT2 and COM6 (see wine-session).
set(ZELP_WINE_ENVIRONMENT "WINEPREFIX=${ZELP_WINEPREFIX}" "WINEDEBUG=-all")
set(ZELP_WINE_SESSION ${CMAKE_CURRENT_LIST_DIR}/wine-session)
set(ZELP_WINE_STATE_DIR ${CMAKE_BINARY_DIR}/wine-session)
add_test(NAME wine_session_start
  COMMAND ${ZELP_WINE_SESSION} start ${ZELP_WINE_STATE_DIR} ${ZELP_WINE_PROGRAM})
add_test(NAME wine_session_stop
  COMMAND ${ZELP_WINE_SESSION} stop ${ZELP_WINE_STATE_DIR} ${ZELP_WINE_PROGRAM})
set_tests_properties(wine_session_start PROPERTIES
  FIXTURES_SETUP zelp_wine ENVIRONMENT "${ZELP_WINE_ENVIRONMENT}" LABELS "wine" TIMEOUT 300)
set_tests_properties(wine_session_stop PROPERTIES
  FIXTURES_CLEANUP zelp_wine ENVIRONMENT "${ZELP_WINE_ENVIRONMENT}" LABELS "wine")

# The DOS names the session gives the two ends of its pty pair.
set(ZELP_WINE_LPT_PORT "\\\\.\\LPT2")
set(ZELP_WINE_LPT_PEER "\\\\.\\COM6")

# Registers a whole test program; PROPERTIES as for set_tests_properties
# (an ENVIRONMENT given there replaces the Wine one, so it repeats it).
function(zelp_windows_test target)
  # PARSE_ARGV keeps list values such as LABELS "unit;concurrency" whole.
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "WORKING_DIRECTORY" "EXTRA_ARGS;PROPERTIES")
  if(NOT arg_WORKING_DIRECTORY)
    set(arg_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  target_link_libraries(${target} PRIVATE zelp_tests_ran_marker)
  add_test(NAME ${target} COMMAND ${target} ${arg_EXTRA_ARGS}
    WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  set_tests_properties(${target} PROPERTIES
    PASS_REGULAR_EXPRESSION "ZELP-TESTS-RAN [1-9][0-9]* tests, 0 failed"
    FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]"
    FIXTURES_REQUIRED zelp_wine
    ENVIRONMENT "${ZELP_WINE_ENVIRONMENT}"
    TIMEOUT 120)
  if(arg_PROPERTIES)
    set_tests_properties(${target} PROPERTIES ${arg_PROPERTIES})
  endif()
endfunction()

# The other folders ask for per-case discovery; in a Windows build each of
# their programs becomes one whole-program test instead.
function(gtest_discover_tests target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "WORKING_DIRECTORY" "EXTRA_ARGS;PROPERTIES")
  set(forwarded)
  if(arg_WORKING_DIRECTORY)
    list(APPEND forwarded WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  endif()
  if(arg_EXTRA_ARGS)
    list(APPEND forwarded EXTRA_ARGS ${arg_EXTRA_ARGS})
  endif()
  zelp_windows_test(${target} ${forwarded} PROPERTIES ${arg_PROPERTIES})
endfunction()
