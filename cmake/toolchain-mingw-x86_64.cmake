# 64-bit Windows, cross-built with mingw-w64 (Debian:
# g++-mingw-w64-x86-64-posix) and run under Wine (wine64; the wine launcher
# picks it for 64-bit programs).
set(ZELP_MINGW_TRIPLET x86_64-w64-mingw32)
set(ZELP_WINE_COMMAND wine)
include(${CMAKE_CURRENT_LIST_DIR}/win32/mingw-common.cmake)
