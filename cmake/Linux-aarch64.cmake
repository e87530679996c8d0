# Cross-building Corvex for 64-bit Arm Linux (pedalboards, Raspberry Pi) with Debian's cross
# toolchain and the arm64 libraries of a multiarch system, running the built tests under qemu-user.
#
#   cmake --preset aarch64        (or: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/Linux-aarch64.cmake ...)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CORVEX_AARCH64_TRIPLE aarch64-linux-gnu)
find_program(CMAKE_C_COMPILER NAMES ${CORVEX_AARCH64_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${CORVEX_AARCH64_TRIPLE}-g++ REQUIRED)

# Libraries come from /usr/lib/aarch64-linux-gnu (multiarch) and the cross toolchain's sysroot;
# programs (code generators, qemu) from the build machine.
set(CMAKE_LIBRARY_ARCHITECTURE ${CORVEX_AARCH64_TRIPLE})
set(CMAKE_FIND_ROOT_PATH /usr/${CORVEX_AARCH64_TRIPLE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the arm64 .pc files only (packages installed as <name>:arm64).
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${CORVEX_AARCH64_TRIPLE}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# Test programs and build-time generators run under qemu-user with the arm64 loader of Debian's
# libc6:arm64, which matches the multiarch libc they load: the cross toolchain's sysroot holds an
# older build of glibc whose loader lays out the thread bookkeeping differently, so a program's
# first new thread never started.
find_program(CORVEX_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(CORVEX_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CORVEX_QEMU_AARCH64};-L;/")
endif()

# GCC fuses a*b+c into one rounding on aarch64 by default: every file rounds each product, as on
# x86-64, so the two systems give the same bits.
set(CMAKE_C_FLAGS_INIT "-ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-ffp-contract=off")
