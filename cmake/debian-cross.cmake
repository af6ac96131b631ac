# What every Debian cross toolchain of the project shares: the compilers and
# the target root of the triple TKPIXMAP_CROSS_TRIPLE, and qemu-user (named
# by TKPIXMAP_CROSS_QEMU) to run the tests.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${TKPIXMAP_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TKPIXMAP_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${TKPIXMAP_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
#
# G_SLICE=always-malloc: qemu-user keeps its translated code in GLib trees,
# whose nodes come from GLib's slice allocator (GLib 2.74, Debian 12).  That
# allocator's locks are not made safe across fork: when one guest thread
# forks while another guest thread is ending (its slice caches are handed
# back under those locks), the child qemu can wait for ever on a lock no one
# will release, still translating code before its execve, and the parent
# waits for the child.  Slices taken from malloc, which the C library keeps
# consistent across fork, leave the child nothing to wait for.
set(CMAKE_CROSSCOMPILING_EMULATOR env G_SLICE=always-malloc
    ${TKPIXMAP_CROSS_QEMU} -L /usr/${TKPIXMAP_CROSS_TRIPLE})
