# The shipped x86_64 Linux library: the build machine's g++ against Debian
# 11's glibc, so that it loads on glibc 2.17 and later (see
# linux-floor/glibc-floor.cmake). Not a cross build: its tests run here.
set(ZELP_LINUX_TRIPLET x86_64-linux-gnu)
set(ZELP_DEBIAN_ARCH amd64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-floor/glibc-floor.cmake)
