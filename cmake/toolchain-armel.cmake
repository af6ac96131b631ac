# Cross build for 32-bit little-endian ARM with software floating point
# (Debian armel); tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(TKPIXMAP_CROSS_TRIPLE arm-linux-gnueabi)

set(CMAKE_C_COMPILER ${TKPIXMAP_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TKPIXMAP_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${TKPIXMAP_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC notes that passing some 64-bit aggregates changed ABI in GCC 7.1;
# everything here is built by the same compiler, so the notes are noise.
set(CMAKE_C_FLAGS_INIT -Wno-psabi)
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/${TKPIXMAP_CROSS_TRIPLE})
