# Keeps a file that holds SOURCE_DATE_EPOCH as the build sees it, rewritten
# only when the value changes: the jars dated by it depend on the file, so a
# new commit's time re-dates them and nothing else does.
#
#   cmake -DSTAMP=... -P source-date.cmake
cmake_minimum_required(VERSION 3.25)
set(value "SOURCE_DATE_EPOCH=$ENV{SOURCE_DATE_EPOCH}\n")
if(EXISTS "${STAMP}")
  file(READ "${STAMP}" previous)
  if(previous STREQUAL value)
    return()
  endif()
endif()
file(WRITE "${STAMP}" "${value}")
