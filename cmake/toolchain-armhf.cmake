# Cross-build for the unit: 32-bit ARM Linux with hard-float ABI, using Debian's cross compiler
# (crossbuild-essential-armhf) and the target's libraries from Debian's multiarch packages
# (libpng-dev:armhf). Host programs such as python3 for the catalogue generator still come from the host.
#
#   cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake -DWITH_BENCHMARKS=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(ARMHF_TRIPLET arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${ARMHF_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ARMHF_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${ARMHF_TRIPLET})
# Every object is built by this one compiler, so the note that GCC 7.1 changed how some arguments are
# passed on ARM concerns nothing here; it would bury real diagnostics.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

# Multiarch keeps the target's libraries beside the host's under /usr, so the search root stays /usr and
# the library architecture above picks /usr/lib/arm-linux-gnueabihf; the cross sysroot holds the C library.
set(CMAKE_FIND_ROOT_PATH /usr/${ARMHF_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Test discovery and ctest run the target's programs through user-mode emulation; they find the target's
# run-time libraries (libc6:armhf, libstdc++6:armhf, libpng16-16:armhf) where the unit has them.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static)
