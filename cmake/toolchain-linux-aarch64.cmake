# 64-bit ARM Linux (Raspberry Pi-class boards, kiosks, scales), cross-built
# with Debian's g++-aarch64-linux-gnu; tests run under qemu-user.
set(ZELP_LINUX_TRIPLET aarch64-linux-gnu)
set(ZELP_LINUX_PROCESSOR aarch64)
set(ZELP_QEMU_COMMAND qemu-aarch64)
set(ZELP_DEBIAN_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross/linux-cross-common.cmake)
