# Builds whose binaries load on glibc 2.17 and later: every shipped Linux
# library (the release preset, linux-aarch64, linux-armhf). Included by their
# toolchain files, which set ZELP_LINUX_TRIPLET and ZELP_DEBIAN_ARCH.
#
# Debian 12's compilers stay; what changes is the C library they compile and
# link against: Debian 11's (glibc 2.31), unpacked under build/sysroot/ by
# fetch-sysroot, where every function binds at the oldest version still in
# force. libstdc++ and libgcc are linked in, and src/native/glibc_floor.cpp
# defines what their prebuilt archives want from a newer glibc. Everything in
# such a tree is built this way, the tests too, so that they test what ships.
cmake_path(SET ZELP_GLIBC_FLOOR_SYSROOT NORMALIZE
  "${CMAKE_CURRENT_LIST_DIR}/../../build/sysroot/${ZELP_DEBIAN_ARCH}")
if(NOT EXISTS "${ZELP_GLIBC_FLOOR_SYSROOT}/.unpacked")
  execute_process(
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/fetch-sysroot ${ZELP_DEBIAN_ARCH} ${ZELP_GLIBC_FLOOR_SYSROOT}
    RESULT_VARIABLE zelp_fetch_status)
  if(NOT zelp_fetch_status EQUAL 0)
    message(FATAL_ERROR "The ${ZELP_DEBIAN_ARCH} glibc 2.31 sysroot could not be fetched (above)")
  endif()
endif()
set(ZELP_GLIBC_FLOOR ON)
set(CMAKE_SYSROOT ${ZELP_GLIBC_FLOOR_SYSROOT})

# gcc searches its own library folders before the sysroot's, and a Debian
# cross compiler's own folder holds Debian 12's C library: the sysroot's come
# first, for the start files (-B) as for the libraries (-L). Before glibc
# 2.34 the thread functions the static libstdc++ calls are in libpthread.
set(zelp_floor_lib ${ZELP_GLIBC_FLOOR_SYSROOT}/usr/lib/${ZELP_LINUX_TRIPLET})
set(zelp_floor_link
  "-B${zelp_floor_lib} -L${zelp_floor_lib} -L${ZELP_GLIBC_FLOOR_SYSROOT}/lib/${ZELP_LINUX_TRIPLET} -static-libstdc++ -static-libgcc -pthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${zelp_floor_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${zelp_floor_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${zelp_floor_link}")

# A Debian cross compiler takes the C headers from /usr/<triplet>/include
# whatever the sysroot, and its C++ headers include_next theirs: its header
# path stays, with that folder swapped for the sysroot's two. (The build
# machine's compiler finds the sysroot's by itself.)
if(CMAKE_CXX_COMPILER)
  foreach(zelp_lang C CXX)
    set(zelp_x c)
    if(zelp_lang STREQUAL CXX)
      set(zelp_x c++)
    endif()
    execute_process(COMMAND ${CMAKE_${zelp_lang}_COMPILER} -x${zelp_x} -E -v -
      INPUT_FILE /dev/null OUTPUT_QUIET ERROR_VARIABLE zelp_search)
    string(REGEX REPLACE ".*search starts here:\n(.*)\nEnd of search list.*" "\\1"
      zelp_search "${zelp_search}")
    string(REGEX REPLACE "[ \n]+" ";" zelp_search "${zelp_search}")
    set(zelp_flags "-nostdinc")
    foreach(zelp_dir IN LISTS zelp_search)
      # The build machine's own headers, last on the path: never the target's.
      if(NOT zelp_dir OR zelp_dir MATCHES "^/usr(/local)?/include$")
        continue()
      endif()
      file(REAL_PATH ${zelp_dir} zelp_dir)
      if(zelp_dir STREQUAL "/usr/${ZELP_LINUX_TRIPLET}/include")
        string(APPEND zelp_flags
          " -isystem ${ZELP_GLIBC_FLOOR_SYSROOT}/usr/include/${ZELP_LINUX_TRIPLET}"
          " -isystem ${ZELP_GLIBC_FLOOR_SYSROOT}/usr/include")
      else()
        string(APPEND zelp_flags " -isystem ${zelp_dir}")
      endif()
    endforeach()
    set(CMAKE_${zelp_lang}_FLAGS_INIT "${zelp_flags}")
  endforeach()
endif()
