# 32-bit Windows, the library's primary target, cross-built with mingw-w64
# (Debian: g++-mingw-w64-i686-posix) and run under 32-bit Wine: wine32:i386, or
# where the kernel refuses 32-bit programs, its unpacked copy under qemu-i386
# (scripts/test-windows).
set(ZELP_MINGW_TRIPLET i686-w64-mingw32)
set(ZELP_WINE_COMMAND wine)
# The oldest Windows the binaries load on: Windows XP.
set(ZELP_WINDOWS_FLOOR 5.1)
include(${CMAKE_CURRENT_LIST_DIR}/win32/mingw-common.cmake)
