# Cross build for 32-bit little-endian ARM with software floating point
# (Debian armel); tests run under qemu-user.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(TKPIXMAP_CROSS_TRIPLE arm-linux-gnueabi)
set(TKPIXMAP_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

# GCC notes that passing some 64-bit aggregates changed ABI in GCC 7.1;
# everything here is built by the same compiler, so the notes are noise.
set(CMAKE_C_FLAGS_INIT -Wno-psabi)
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
