# The JVM the Java tests of a cross build run in: Debian's
# openjdk-17-jre-headless for the target, unpacked with the one library the
# cross sysroot lacks (zlib) under ZELP_TARGET_JRE_ROOT by
# cmake/linux-cross/fetch-target-jre, and run under the build's emulator.
# Included by java/CMakeLists.txt; sets ZELP_TEST_JAVA (the command) and
# ZELP_TEST_JAVA_FILE (what must exist for it to run).
set(ZELP_TARGET_JRE_ROOT "${PROJECT_SOURCE_DIR}/build/target-jre/${ZELP_JAR_SYSTEM}"
    CACHE PATH "Where the target's JRE is unpacked (cmake/linux-cross/fetch-target-jre)")
set(ZELP_TEST_JAVA_FILE
  ${ZELP_TARGET_JRE_ROOT}/usr/lib/jvm/java-17-openjdk-${ZELP_DEBIAN_ARCH}/bin/java)
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(WARNING "No ${ZELP_QEMU_COMMAND}: the Java tests of this build cannot run")
endif()
# C1 alone: under the emulator, what C2 spends compiling costs more than it
# saves in runs this short (a third of the run).
set(ZELP_TEST_JAVA ${CMAKE_CROSSCOMPILING_EMULATOR}
  -E LD_LIBRARY_PATH=${ZELP_TARGET_JRE_ROOT}/lib/${ZELP_LINUX_TRIPLET}
  ${ZELP_TEST_JAVA_FILE} -XX:TieredStopAtLevel=1)
