# 64-bit Windows, cross-built with mingw-w64 (Debian:
# g++-mingw-w64-x86-64-posix) and run under Wine's 64-bit loader, named
# directly: Debian's wine launcher starts every program through the 32-bit
# loader when wine32 is installed, and some kernels refuse to run 32-bit
# programs at all ("Exec format error"), which would stop the 64-bit tests too.
set(ZELP_MINGW_TRIPLET x86_64-w64-mingw32)
set(ZELP_WINE_COMMAND wine64)
# The oldest Windows the binaries load on: Windows XP x64 and Server 2003.
set(ZELP_WINDOWS_FLOOR 5.2)
include(${CMAKE_CURRENT_LIST_DIR}/win32/mingw-common.cmake)
