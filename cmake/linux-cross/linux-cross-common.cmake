# What the ARM Linux toolchains share. The including file sets
# ZELP_LINUX_TRIPLET, ZELP_LINUX_PROCESSOR (as uname -m names it),
# ZELP_QEMU_COMMAND and ZELP_DEBIAN_ARCH (Debian's name of the architecture).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${ZELP_LINUX_PROCESSOR})

set(CMAKE_C_COMPILER ${ZELP_LINUX_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZELP_LINUX_TRIPLET}-g++)

# Debian's cross packages put the target's libc, libstdc++ and headers here.
set(ZELP_TARGET_SYSROOT /usr/${ZELP_LINUX_TRIPLET})
set(CMAKE_FIND_ROOT_PATH ${ZELP_TARGET_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under qemu-user with the sysroot as the target's root:
# its dynamic linker and libraries stand where the programs look for them.
# Without qemu the library still builds; only its tests cannot run.
find_program(ZELP_QEMU_PROGRAM ${ZELP_QEMU_COMMAND})
if(ZELP_QEMU_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELP_QEMU_PROGRAM} -L ${ZELP_TARGET_SYSROOT})
endif()

# JNI. The JDK of the build machine serves: its Linux jni_md.h sizes jlong by
# _LP64, so the same headers fit 32-bit and 64-bit ARM.
set(ZELP_JDK_INCLUDE_DIR /usr/lib/jvm/java-17-openjdk-amd64/include
    CACHE PATH "The include folder of the JDK whose jni.h a cross build uses")
set(JNI_INCLUDE_DIRS ${ZELP_JDK_INCLUDE_DIR} ${ZELP_JDK_INCLUDE_DIR}/linux)

# The library loads on the target's glibc 2.17 and later.
include(${CMAKE_CURRENT_LIST_DIR}/../linux-floor/glibc-floor.cmake)
