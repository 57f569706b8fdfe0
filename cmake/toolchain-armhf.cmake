# Cross-compiling for the board's processor: 32-bit ARM with hard float
# (Debian's armhf), with Debian's cross compiler and the target tree that
# scripts/make-armhf-sysroot.sh makes. Programs built with it run on the
# development host under qemu-arm, which loads their shared libraries from
# that tree; ctest runs every test that way.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

set(TSTAT_ARMHF_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build-armhf-sysroot"
    CACHE PATH "Target tree with the armhf libraries (scripts/make-armhf-sysroot.sh)")
get_filename_component(TSTAT_ARMHF_SYSROOT "${TSTAT_ARMHF_SYSROOT}" ABSOLUTE)
if(NOT EXISTS "${TSTAT_ARMHF_SYSROOT}/usr/include/SDL/SDL.h")
    message(FATAL_ERROR "No armhf target tree in ${TSTAT_ARMHF_SYSROOT}: "
                        "run scripts/make-armhf-sysroot.sh (make test-armhf does)")
endif()
set(CMAKE_SYSROOT "${TSTAT_ARMHF_SYSROOT}")

# Libraries, headers and CMake packages come from the target tree only;
# programs (and files of the build machine such as fonts) from the host.
set(CMAKE_FIND_ROOT_PATH "${TSTAT_ARMHF_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the target tree's .pc files and prefixes their paths.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${TSTAT_ARMHF_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${TSTAT_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${TSTAT_ARMHF_SYSROOT}/usr/share/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})

find_program(TSTAT_QEMU_ARM qemu-arm)
if(TSTAT_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${TSTAT_QEMU_ARM};-L;${TSTAT_ARMHF_SYSROOT}")
endif()
