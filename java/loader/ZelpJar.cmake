# zelp.jar (target zelp_jar), the one jar applications use: the product
# classes (target zelp_classes_jar), the licence, a manifest that names the
# module and the version, and the native library of every system that has
# been built, as natives/<system>/<library file>. The library of this build
# comes from this tree; the others from their own presets' trees, when they
# exist at build time (scripts/package builds them first). Other jars compile
# against zelp_jar as against any add_jar target.
get_target_property(zelp_classes_jar_file zelp_classes_jar JAR_FILE)

# Writes jars whose bytes depend only on their content (entry order and times
# fixed), so two builds of one commit give the same jar.
set(CMAKE_JAVA_COMPILE_FLAGS --release 17 -Xlint:all -Werror)
add_jar(zelp_jar_tool
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ReproducibleJar.java
  OUTPUT_NAME zelp-jar-tool
  OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR}/intermediate)
get_target_property(ZELP_JAR_TOOL zelp_jar_tool JAR_FILE)

# This build's system, named as the loader names the running JVM's
# (zelp.internal.RunningSystem).
string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" zelp_processor)
if(zelp_processor MATCHES "^(x86_64|amd64)$")
  set(zelp_arch x86_64)
elseif(zelp_processor MATCHES "^i[3-6]86$|^x86$")
  set(zelp_arch x86)
elseif(zelp_processor MATCHES "^(aarch64|arm64)$")
  set(zelp_arch aarch64)
elseif(zelp_processor MATCHES "^arm")
  # Hard and soft float cannot load each other's libraries: the name says which.
  include(CheckCXXSourceCompiles)
  check_cxx_source_compiles("#ifndef __ARM_PCS_VFP\n#error soft float\n#endif\nint main() {}"
    ZELP_TARGET_HARD_FLOAT)
  if(ZELP_TARGET_HARD_FLOAT)
    set(zelp_arch armhf)
  else()
    set(zelp_arch armel)
  endif()
else()
  set(zelp_arch ${zelp_processor})
endif()
string(TOLOWER "${CMAKE_SYSTEM_NAME}" zelp_os)
set(ZELP_JAR_SYSTEM ${zelp_os}-${zelp_arch})

# Every system the jar can carry, with the preset that builds its library.
set(zelp_jar_systems
  linux-x86_64 release libLibIoZelp.so
  linux-aarch64 linux-aarch64 libLibIoZelp.so
  linux-armhf linux-armhf libLibIoZelp.so
  windows-x86 win-i686 LibIoZelp.dll
  windows-x86_64 win-x64 LibIoZelp.dll)
set(zelp_jar_natives)
# system=path of each library this build takes from another tree (LoaderTests.cmake).
set(ZELP_JAR_OTHER_NATIVES)
while(zelp_jar_systems)
  list(POP_FRONT zelp_jar_systems zelp_system zelp_preset zelp_file)
  if(zelp_system STREQUAL ZELP_JAR_SYSTEM)
    list(APPEND zelp_jar_natives "${zelp_system}=$<TARGET_FILE:LibIoZelp>")
    continue()
  endif()
  string(TOUPPER "ZELP_JAR_NATIVE_${zelp_system}" zelp_variable)
  string(REPLACE "-" "_" zelp_variable ${zelp_variable})
  set(${zelp_variable} "${PROJECT_SOURCE_DIR}/build/${zelp_preset}/lib/${zelp_file}"
      CACHE FILEPATH "The ${zelp_system} library zelp.jar carries when it exists")
  list(APPEND zelp_jar_natives "${zelp_system}=${${zelp_variable}}")
  list(APPEND ZELP_JAR_OTHER_NATIVES "${zelp_system}=${${zelp_variable}}")
endwhile()
string(JOIN "|" zelp_jar_natives ${zelp_jar_natives})

configure_file(${CMAKE_CURRENT_LIST_DIR}/MANIFEST.MF.in ${CMAKE_CURRENT_BINARY_DIR}/MANIFEST.MF @ONLY)

set(zelp_jar_file ${ZELP_JAVA_OUTPUT_DIR}/zelp.jar)
# Runs at every build: the other libraries are built by other trees, so only
# the script can tell whether they changed. It rewrites the jar only when
# something did (SOURCE_DATE_EPOCH included).
add_custom_target(zelp_jar ALL
  COMMAND ${CMAKE_COMMAND}
    -DJAVA=${Java_JAVA_EXECUTABLE}
    -DTOOL_JAR=${ZELP_JAR_TOOL}
    -DCLASSES_JAR=${zelp_classes_jar_file}
    -DMANIFEST=${CMAKE_CURRENT_BINARY_DIR}/MANIFEST.MF
    -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE
    -DOUTPUT_JAR=${zelp_jar_file}
    -DSTAMP=${CMAKE_CURRENT_BINARY_DIR}/zelp-jar.stamp
    "-DNATIVES=${zelp_jar_natives}"
    -DDEBUG_DIR=${CMAKE_BINARY_DIR}/debug
    -P ${CMAKE_CURRENT_LIST_DIR}/pack-jar.cmake
  BYPRODUCTS ${zelp_jar_file}
  COMMENT "Packing zelp.jar with the native libraries built"
  VERBATIM)
add_dependencies(zelp_jar zelp_classes_jar zelp_jar_tool LibIoZelp)
set_target_properties(zelp_jar PROPERTIES JAR_FILE ${zelp_jar_file})
