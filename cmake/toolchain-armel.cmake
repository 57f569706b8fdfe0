# Cross-compiling for the board's processor: an ARM926EJ-S core (ARMv5TE, no
# floating-point unit), Debian's armel (EABI, soft float), with Debian's
# cross compiler and the target tree that scripts/make-armel-sysroot.sh
# makes. Programs built with it run on the development host under
# `qemu-arm -cpu arm926`, which loads their shared libraries from that tree
# and refuses every instruction the board's core lacks; ctest runs every test
# that way.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabi)

set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
# Debian's armel compiler defaults to these already; they are spelt out so
# that the target does not depend on a compiler's defaults.
set(CMAKE_C_FLAGS_INIT "-march=armv5te -mfloat-abi=soft -marm")
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -mfloat-abi=soft -marm")

set(TSTAT_ARMEL_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build-armel-sysroot"
    CACHE PATH "Target tree with the armel libraries (scripts/make-armel-sysroot.sh)")
get_filename_component(TSTAT_ARMEL_SYSROOT "${TSTAT_ARMEL_SYSROOT}" ABSOLUTE)
if(NOT EXISTS "${TSTAT_ARMEL_SYSROOT}/usr/include/SDL/SDL.h")
    message(FATAL_ERROR "No armel target tree in ${TSTAT_ARMEL_SYSROOT}: "
                        "run scripts/make-armel-sysroot.sh (make test-armel does)")
endif()
set(CMAKE_SYSROOT "${TSTAT_ARMEL_SYSROOT}")

# Libraries, headers and CMake packages come from the target tree only;
# programs (and files of the build machine such as fonts) from the host.
set(CMAKE_FIND_ROOT_PATH "${TSTAT_ARMEL_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the target tree's .pc files and prefixes their paths.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${TSTAT_ARMEL_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
    "${TSTAT_ARMEL_SYSROOT}/usr/lib/arm-linux-gnueabi/pkgconfig:${TSTAT_ARMEL_SYSROOT}/usr/share/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})

# The board's core. The programs that tests start themselves get a bare
# qemu-arm ($TSTAT_EMULATOR) and the core through QEMU_CPU (TstatHelpers).
set(TSTAT_QEMU_CPU arm926)
find_program(TSTAT_QEMU_ARM qemu-arm)
if(TSTAT_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        "${TSTAT_QEMU_ARM};-cpu;${TSTAT_QEMU_CPU};-L;${TSTAT_ARMEL_SYSROOT}")
endif()
