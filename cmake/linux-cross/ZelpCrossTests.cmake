# The tests of an ARM Linux build, which run under qemu-user (the toolchain's
# emulator). Included by tests/CMakeLists.txt in place of find_package(GTest):
# Debian's GoogleTest libraries are built for the build machine, so
# GoogleTest comes from its source package, built with the cross compiler.
# Per-case discovery stays as it is natively: discovery and every case run
# under the emulator, which starts in a fraction of a second.
set(ZELP_GOOGLETEST_SOURCE_DIR /usr/src/googletest
    CACHE PATH "GoogleTest sources for builds that cannot use the system's libraries")

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(INSTALL_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${ZELP_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

include(GoogleTest)
