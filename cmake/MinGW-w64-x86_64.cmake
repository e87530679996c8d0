# Cross-building Corvex for 64-bit Windows with Debian's MinGW-w64 (posix threads, so the C++
# standard library's threads and mutexes work), running the built tests under Wine.
#
#   cmake --preset windows        (or: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/MinGW-w64-x86_64.cmake ...)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CORVEX_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${CORVEX_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${CORVEX_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${CORVEX_MINGW_TRIPLE}-windres REQUIRED)

# Libraries and headers come from the MinGW-w64 sysroot only; programs (code generators, Wine)
# from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${CORVEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The build machine's pkg-config would hand out Linux libraries: it finds nothing here.
set(ENV{PKG_CONFIG_LIBDIR} "")
set(ENV{PKG_CONFIG_PATH} "")
set(PKG_CONFIG_EXECUTABLE "PKG_CONFIG_EXECUTABLE-NOTFOUND" CACHE FILEPATH "No pkg-config in the Windows build")

# The GCC runtime, libstdc++ and winpthread are linked in statically, so Corvex.vst3 and the
# test programs need no MinGW DLL next to them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine.
find_program(CORVEX_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(CORVEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CORVEX_WINE}")
endif()
