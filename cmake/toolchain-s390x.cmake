# Cross build for 64-bit big-endian IBM Z (Debian s390x): the big-endian
# host of the test matrix; tests run under qemu-user.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TKPIXMAP_CROSS_TRIPLE s390x-linux-gnu)
set(TKPIXMAP_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
