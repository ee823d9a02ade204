# zelp.jar, the one jar applications use: the product classes (target
# zelp_classes_jar) and the native library of every system that has been
# built, as natives/<system>/<library file>. The library of this build comes
# from this tree; the Windows DLLs from the win-i686 and win-x64 builds, when
# they exist at build time (scripts/package builds them first). Other jars
# compile against zelp_jar as against any add_jar target.
get_target_property(zelp_classes_jar_file zelp_classes_jar JAR_FILE)

# This build's system, named as the loader names the running JVM's.
string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" zelp_processor)
if(zelp_processor MATCHES "^(x86_64|amd64)$")
  set(zelp_arch x86_64)
elseif(zelp_processor MATCHES "^i[3-6]86$|^x86$")
  set(zelp_arch x86)
elseif(zelp_processor MATCHES "^(aarch64|arm64)$")
  set(zelp_arch aarch64)
else()
  set(zelp_arch ${zelp_processor})
endif()
string(TOLOWER "${CMAKE_SYSTEM_NAME}" zelp_os)

set(ZELP_JAR_NATIVE_WINDOWS_X86 "${PROJECT_SOURCE_DIR}/build/win-i686/lib/LibIoZelp.dll"
    CACHE FILEPATH "The 32-bit Windows DLL zelp.jar carries when it exists")
set(ZELP_JAR_NATIVE_WINDOWS_X86_64 "${PROJECT_SOURCE_DIR}/build/win-x64/lib/LibIoZelp.dll"
    CACHE FILEPATH "The 64-bit Windows DLL zelp.jar carries when it exists")

set(zelp_jar_file ${ZELP_JAVA_OUTPUT_DIR}/zelp.jar)
set(zelp_jar_natives
  "${zelp_os}-${zelp_arch}=$<TARGET_FILE:LibIoZelp>"
  "windows-x86=${ZELP_JAR_NATIVE_WINDOWS_X86}"
  "windows-x86_64=${ZELP_JAR_NATIVE_WINDOWS_X86_64}")
string(JOIN "|" zelp_jar_natives ${zelp_jar_natives})

# Runs at every build: the DLLs are built by other trees, so only the script
# can tell whether they changed. It rewrites the jar only when something did.
add_custom_target(zelp_jar ALL
  COMMAND ${CMAKE_COMMAND}
    -DJAR_TOOL=${Java_JAR_EXECUTABLE}
    -DCLASSES_JAR=${zelp_classes_jar_file}
    -DOUTPUT_JAR=${zelp_jar_file}
    -DSTAGE_DIR=${CMAKE_CURRENT_BINARY_DIR}/zelp-jar-natives
    "-DNATIVES=${zelp_jar_natives}"
    -P ${CMAKE_CURRENT_LIST_DIR}/pack-jar.cmake
  BYPRODUCTS ${zelp_jar_file}
  COMMENT "Packing zelp.jar with the native libraries built"
  VERBATIM)
add_dependencies(zelp_jar zelp_classes_jar LibIoZelp)
set_target_properties(zelp_jar PROPERTIES JAR_FILE ${zelp_jar_file})
