# Assembles zelp.jar: the product classes plus every native library that has
# been built, each as the resource natives/<system>/<library file> that the
# loader looks for. A library that is not there (a Windows DLL whose preset was
# never built) is left out and named in the build output. The jar is rebuilt
# only when one of its inputs changed, so the jars compiled against it are not.
#
#   cmake -DJAR_TOOL=... -DCLASSES_JAR=... -DOUTPUT_JAR=... -DSTAGE_DIR=...
#         "-DNATIVES=linux-x86_64=/path/libLibIoZelp.so|windows-x86=/path/LibIoZelp.dll"
#         -P pack-jar.cmake
cmake_minimum_required(VERSION 3.25)

foreach(required JAR_TOOL CLASSES_JAR OUTPUT_JAR STAGE_DIR NATIVES)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "pack-jar: ${required} is not set")
  endif()
endforeach()

string(REPLACE "|" ";" zelp_natives "${NATIVES}")
file(SHA256 "${CLASSES_JAR}" zelp_hash)
set(zelp_stamp "classes ${zelp_hash}\n")
set(zelp_present)
set(zelp_absent)
foreach(zelp_entry IN LISTS zelp_natives)
  string(FIND "${zelp_entry}" "=" zelp_eq)
  string(SUBSTRING "${zelp_entry}" 0 ${zelp_eq} zelp_system)
  math(EXPR zelp_eq "${zelp_eq} + 1")
  string(SUBSTRING "${zelp_entry}" ${zelp_eq} -1 zelp_path)
  if(EXISTS "${zelp_path}")
    file(SHA256 "${zelp_path}" zelp_hash)
    string(APPEND zelp_stamp "${zelp_system} ${zelp_hash}\n")
    list(APPEND zelp_present "${zelp_system}=${zelp_path}")
  else()
    list(APPEND zelp_absent "${zelp_system} (no ${zelp_path})")
  endif()
endforeach()

set(zelp_stamp_file "${STAGE_DIR}.stamp")
if(EXISTS "${OUTPUT_JAR}" AND EXISTS "${zelp_stamp_file}")
  file(READ "${zelp_stamp_file}" zelp_previous)
  if(zelp_previous STREQUAL zelp_stamp)
    return()
  endif()
endif()

file(REMOVE_RECURSE "${STAGE_DIR}")
set(zelp_systems)
foreach(zelp_entry IN LISTS zelp_present)
  string(FIND "${zelp_entry}" "=" zelp_eq)
  string(SUBSTRING "${zelp_entry}" 0 ${zelp_eq} zelp_system)
  math(EXPR zelp_eq "${zelp_eq} + 1")
  string(SUBSTRING "${zelp_entry}" ${zelp_eq} -1 zelp_path)
  get_filename_component(zelp_name "${zelp_path}" NAME)
  file(MAKE_DIRECTORY "${STAGE_DIR}/natives/${zelp_system}")
  file(COPY_FILE "${zelp_path}" "${STAGE_DIR}/natives/${zelp_system}/${zelp_name}")
  list(APPEND zelp_systems ${zelp_system})
endforeach()

set(zelp_partial "${OUTPUT_JAR}.partial")
file(COPY_FILE "${CLASSES_JAR}" "${zelp_partial}")
if(zelp_systems)
  execute_process(
    COMMAND "${JAR_TOOL}" --update --file "${zelp_partial}" -C "${STAGE_DIR}" natives
    RESULT_VARIABLE zelp_result)
  if(NOT zelp_result EQUAL 0)
    file(REMOVE "${zelp_partial}")
    message(FATAL_ERROR "pack-jar: adding the natives to ${OUTPUT_JAR} failed (${zelp_result})")
  endif()
endif()
file(RENAME "${zelp_partial}" "${OUTPUT_JAR}")
file(WRITE "${zelp_stamp_file}" "${zelp_stamp}")

string(REPLACE ";" ", " zelp_systems "${zelp_systems}")
message(STATUS "zelp.jar: natives for ${zelp_systems}")
foreach(zelp_missing IN LISTS zelp_absent)
  message(STATUS "zelp.jar: not built, left out: ${zelp_missing}")
endforeach()
