# 32-bit ARM Linux with hard float (Debian armhf: ARMv7, VFPv3-D16), cross-
# built with Debian's g++-arm-linux-gnueabihf; tests run under qemu-user.
set(ZELP_LINUX_TRIPLET arm-linux-gnueabihf)
set(ZELP_LINUX_PROCESSOR armv7l)
set(ZELP_QEMU_COMMAND qemu-arm)
set(ZELP_DEBIAN_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross/linux-cross-common.cmake)
