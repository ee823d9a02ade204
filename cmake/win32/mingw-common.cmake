# What both mingw-w64 toolchains share. The including file sets
# ZELP_MINGW_TRIPLET, ZELP_WINE_COMMAND and ZELP_WINDOWS_FLOOR.
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${ZELP_MINGW_TRIPLET})

# The posix flavour: std::thread and std::mutex, which the portable kernel
# objects use, need it.
set(CMAKE_C_COMPILER ${ZELP_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELP_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELP_MINGW_TRIPLET}-windres)
# CMake cannot tell the binutils' prefix from the -posix compiler names.
set(CMAKE_STRIP ${ZELP_MINGW_TRIPLET}-strip)
set(CMAKE_OBJCOPY ${ZELP_MINGW_TRIPLET}-objcopy)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELP_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine. Without it the library still builds; only
# its tests cannot run. Debian keeps the loaders themselves in /usr/lib/wine.
find_program(ZELP_WINE_PROGRAM NAMES ${ZELP_WINE_COMMAND} PATHS /usr/lib/wine)
if(ZELP_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELP_WINE_PROGRAM})
endif()

# A JVM loads the library into a process that has no mingw runtime beside
# it, so everything is linked in: the DLL imports only system DLLs.
# --kill-at: i686 mingw exports a __stdcall function as Java_..._name@N, a
# form HotSpot never looks up; without the suffix it finds the plain JNI name.
# (x86_64 has no such decoration; the option changes nothing there.)
# --no-insert-timestamp: ld dates a PE file by the clock, so two builds of
# one commit would differ; the release jar that carries the DLLs must not.
# The subsystem and OS versions: the loader of a Windows older than the
# header's subsystem version refuses the file as "not a valid Win32
# application", whatever it imports. ld's defaults follow newer Windows, so
# both are set to the floor the toolchain file names (ZELP_WINDOWS_FLOOR,
# major.minor); scripts/check-imports keeps the imports to that floor.
string(REPLACE "." ";" zelp_floor ${ZELP_WINDOWS_FLOOR})
list(GET zelp_floor 0 zelp_floor_major)
list(GET zelp_floor 1 zelp_floor_minor)
set(zelp_pe_versions "-Wl,--major-subsystem-version,${zelp_floor_major}\
 -Wl,--minor-subsystem-version,${zelp_floor_minor}\
 -Wl,--major-os-version,${zelp_floor_major} -Wl,--minor-os-version,${zelp_floor_minor}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ ${zelp_pe_versions}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT
  "-static -static-libgcc -static-libstdc++ -Wl,--kill-at -Wl,--no-insert-timestamp ${zelp_pe_versions}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT
  "-static -static-libgcc -static-libstdc++ -Wl,--kill-at -Wl,--no-insert-timestamp ${zelp_pe_versions}")

# JNI for Windows. FindJNI looks for a JDK of the build machine, which has
# the wrong jni_md.h (jlong is `long`, 32 bits on Windows, and no __stdcall),
# so the headers are named here: our Windows jni_md.h, then the JDK's jni.h
# (which includes "jni_md.h" and finds ours). The JDK must be older than 24,
# whose headers no longer give JNICALL a calling convention; the DLL's test
# program refuses to compile against such headers.
set(ZELP_JDK_INCLUDE_DIR /usr/lib/jvm/java-17-openjdk-amd64/include
    CACHE PATH "The include folder of the JDK whose jni.h a Windows build uses")
set(JNI_INCLUDE_DIRS ${CMAKE_CURRENT_LIST_DIR}/include ${ZELP_JDK_INCLUDE_DIR})
