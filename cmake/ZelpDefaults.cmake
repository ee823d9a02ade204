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
