# Settings every target of our own gets: the warning wall, the source root on
# the include path. Sanitizers are not here: they live in the presets.
function(zelp_target_defaults target)
  # GCC 12 reports -Wrestrict for `"literal" + std::string` at -O2, a false
  # positive of its own string inlining; nothing of ours can overlap there.
  target_compile_options(${target} PRIVATE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Werror>
    $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  zelp_link_windows_floor(${target})
endfunction()

# The static winpthreads imports GetTickCount64, which Windows before Vista
# lacks; each linked Windows target gets our own (see
# src/native/platform/win32/tick_count_64.cpp). It comes in as an object, not
# from an archive: ld reads each archive once, in order, and winpthreads,
# which asks for it, comes after ours, just before kernel32's import library.
function(zelp_link_windows_floor target)
  get_target_property(type ${target} TYPE)
  if(WIN32 AND type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
    target_link_libraries(${target} PRIVATE zelp_tick_count_64)
  endif()
endfunction()

# A JNI library: only the Java_ entry points leave it.
function(zelp_jni_library target)
  target_include_directories(${target} PRIVATE ${JNI_INCLUDE_DIRS})
  zelp_link_windows_floor(${target})
  if(NOT WIN32)
    target_link_options(${target} PRIVATE
      -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/jni-exports.map
      -Wl,--no-undefined
      -static-libstdc++ -static-libgcc)
  endif()
endfunction()

# Adds the glibc floor's definitions (src/native/glibc_floor.cpp) to every
# program and shared library defined in a folder and those below it.
function(zelp_link_glibc_floor directory)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
      target_sources(${target} PRIVATE $<TARGET_OBJECTS:zelp_glibc_floor>)
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    zelp_link_glibc_floor(${subdirectory})
  endforeach()
endfunction()

# A shipped library goes out stripped: its symbols stay beside it as
# <file>.debug (objcopy --only-keep-debug), which the stripped file names
# through a .gnu_debuglink, so a debugger given that file finds them. zelp.jar
# carries the stripped file; the release keeps the .debug files apart
# (build/<preset>/debug/<system>/). Release builds only: the others are for
# debugging here.
function(zelp_strip_shipped target)
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Release" OR NOT CMAKE_STRIP OR NOT CMAKE_OBJCOPY)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${CMAKE_STRIP} --strip-unneeded $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug $<TARGET_FILE:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    VERBATIM)
endfunction()
