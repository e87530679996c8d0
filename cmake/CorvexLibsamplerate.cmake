# libsamplerate for builds without a packaged one (the MinGW cross build): Debian's source, which
# scripts/fetch-libsamplerate.sh puts into CORVEX_LIBSAMPLERATE_SOURCE (scripts/setup.sh --tests
# does, and the first configure when it is missing), compiled with the build's own toolchain into
# the static library corvex_samplerate.
set(CORVEX_LIBSAMPLERATE_SOURCE "${PROJECT_SOURCE_DIR}/build/sources/libsamplerate" CACHE PATH
  "libsamplerate's source (scripts/fetch-libsamplerate.sh DIR fetches Debian's)")
if(NOT EXISTS "${CORVEX_LIBSAMPLERATE_SOURCE}/src/samplerate.c")
  message(STATUS "Fetching libsamplerate's source into ${CORVEX_LIBSAMPLERATE_SOURCE}")
  execute_process(COMMAND "${PROJECT_SOURCE_DIR}/scripts/fetch-libsamplerate.sh" "${CORVEX_LIBSAMPLERATE_SOURCE}"
    RESULT_VARIABLE _fetched)
  if(NOT EXISTS "${CORVEX_LIBSAMPLERATE_SOURCE}/src/samplerate.c")
    message(FATAL_ERROR "No libsamplerate source in ${CORVEX_LIBSAMPLERATE_SOURCE} (fetching it failed: ${_fetched}): "
      "run scripts/fetch-libsamplerate.sh ${CORVEX_LIBSAMPLERATE_SOURCE}, or set CORVEX_LIBSAMPLERATE_SOURCE")
  endif()
endif()

# What its own build would find on x86-64: a little-endian processor whose float to int
# conversions do not clip, and every converter.
include(CheckTypeSize)
check_type_size(int CORVEX_SIZEOF_INT LANGUAGE C)
check_type_size(long CORVEX_SIZEOF_LONG LANGUAGE C)
set(_config "${CMAKE_CURRENT_BINARY_DIR}/corvex_samplerate/config.h")
file(CONFIGURE OUTPUT "${_config}" CONTENT [[
#define PACKAGE "libsamplerate"
#define VERSION "corvex"
#define CPU_CLIPS_NEGATIVE 0
#define CPU_CLIPS_POSITIVE 0
#define CPU_IS_BIG_ENDIAN 0
#define CPU_IS_LITTLE_ENDIAN 1
#define HAVE_LRINT 1
#define HAVE_LRINTF 1
#define HAVE_STDBOOL_H 1
#define HAVE_STDINT_H 1
#define ENABLE_SINC_FAST_CONVERTER
#define ENABLE_SINC_MEDIUM_CONVERTER
#define ENABLE_SINC_BEST_CONVERTER
#define SIZEOF_INT @CORVEX_SIZEOF_INT@
#define SIZEOF_LONG @CORVEX_SIZEOF_LONG@
]] @ONLY)

add_library(corvex_samplerate STATIC
  "${CORVEX_LIBSAMPLERATE_SOURCE}/src/samplerate.c" "${CORVEX_LIBSAMPLERATE_SOURCE}/src/src_linear.c"
  "${CORVEX_LIBSAMPLERATE_SOURCE}/src/src_sinc.c" "${CORVEX_LIBSAMPLERATE_SOURCE}/src/src_zoh.c")
target_include_directories(corvex_samplerate SYSTEM PUBLIC "${CORVEX_LIBSAMPLERATE_SOURCE}/include")
target_include_directories(corvex_samplerate PRIVATE "${CMAKE_CURRENT_BINARY_DIR}/corvex_samplerate")
target_compile_definitions(corvex_samplerate PRIVATE HAVE_CONFIG_H)
# Rounded as the packaged library rounds: no fused multiply-adds.
target_compile_options(corvex_samplerate PRIVATE -ffp-contract=off -w)
