# Assembles zelp.jar: the product classes, the licence and the manifest, plus
# every native library that has been built, each as the resource
# natives/<system>/<library file> that the loader looks for. A library that is
# not there (one whose preset was never built) is left out and named in the
# build output. The jar is rebuilt only when one of its inputs changed, so the
# jars compiled against it are not.
#
#   cmake -DJAVA=java -DTOOL_JAR=zelp-jar-tool.jar -DCLASSES_JAR=... -DMANIFEST=...
#         -DLICENSE=... -DOUTPUT_JAR=... -DSTAMP=...
#         "-DNATIVES=linux-x86_64=/path/libLibIoZelp.so|windows-x86=/path/LibIoZelp.dll"
#         [-DDEBUG_DIR=...] -P pack-jar.cmake
#
# The symbols of each library (<library file>.debug beside it, see
# zelp_strip_shipped) stay out of the jar: they are copied to
# DEBUG_DIR/<system>/.
cmake_minimum_required(VERSION 3.25)

foreach(required JAVA TOOL_JAR CLASSES_JAR MANIFEST LICENSE OUTPUT_JAR STAMP NATIVES)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "pack-jar: ${required} is not set")
  endif()
endforeach()

string(REPLACE "|" ";" zelp_natives "${NATIVES}")
set(zelp_stamp "SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH}\n")
foreach(zelp_input TOOL_JAR CLASSES_JAR MANIFEST LICENSE)
  file(SHA256 "${${zelp_input}}" zelp_hash)
  string(APPEND zelp_stamp "${zelp_input} ${zelp_hash}\n")
endforeach()
set(zelp_arguments --manifest "${MANIFEST}" --zip "${CLASSES_JAR}" --file "META-INF/LICENSE=${LICENSE}")
set(zelp_systems)
set(zelp_absent)
foreach(zelp_entry IN LISTS zelp_natives)
  string(FIND "${zelp_entry}" "=" zelp_eq)
  string(SUBSTRING "${zelp_entry}" 0 ${zelp_eq} zelp_system)
  math(EXPR zelp_eq "${zelp_eq} + 1")
  string(SUBSTRING "${zelp_entry}" ${zelp_eq} -1 zelp_path)
  if(EXISTS "${zelp_path}")
    file(SHA256 "${zelp_path}" zelp_hash)
    string(APPEND zelp_stamp "${zelp_system} ${zelp_hash}\n")
    get_filename_component(zelp_name "${zelp_path}" NAME)
    list(APPEND zelp_arguments --file "natives/${zelp_system}/${zelp_name}=${zelp_path}")
    list(APPEND zelp_systems ${zelp_system})
    if(DEFINED DEBUG_DIR AND EXISTS "${zelp_path}.debug")
      file(MAKE_DIRECTORY "${DEBUG_DIR}/${zelp_system}")
      file(COPY_FILE "${zelp_path}.debug" "${DEBUG_DIR}/${zelp_system}/${zelp_name}.debug"
        ONLY_IF_DIFFERENT)
    endif()
  else()
    list(APPEND zelp_absent "${zelp_system} (no ${zelp_path})")
  endif()
endforeach()

if(EXISTS "${OUTPUT_JAR}" AND EXISTS "${STAMP}")
  file(READ "${STAMP}" zelp_previous)
  if(zelp_previous STREQUAL zelp_stamp)
    return()
  endif()
endif()

execute_process(
  COMMAND "${JAVA}" -cp "${TOOL_JAR}" zelp.build.ReproducibleJar "${OUTPUT_JAR}" ${zelp_arguments}
  RESULT_VARIABLE zelp_result)
if(NOT zelp_result EQUAL 0)
  message(FATAL_ERROR "pack-jar: writing ${OUTPUT_JAR} failed (${zelp_result})")
endif()
file(WRITE "${STAMP}" "${zelp_stamp}")

string(REPLACE ";" ", " zelp_systems "${zelp_systems}")
message(STATUS "zelp.jar: natives for ${zelp_systems}")
foreach(zelp_missing IN LISTS zelp_absent)
  message(STATUS "zelp.jar: not built, left out: ${zelp_missing}")
endforeach()
