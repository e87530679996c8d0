# Sanitizers apply to every target of the build, so the engine, the plug-in module and the
# test executables agree on instrumentation.
if(CORVEX_SANITIZE AND CORVEX_TSAN)
  message(FATAL_ERROR "CORVEX_SANITIZE and CORVEX_TSAN cannot be combined")
endif()
if(CORVEX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(CORVEX_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
# The fuzz targets' coverage: every target is instrumented, the fuzzers link libFuzzer's main.
if(CORVEX_BUILD_FUZZERS)
  if(NOT CORVEX_SANITIZE)
    message(FATAL_ERROR "CORVEX_BUILD_FUZZERS needs CORVEX_SANITIZE")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
# clang links no sanitizer runtime into a shared object (the host executable brings it): the
# plug-in modules cannot be linked with --no-undefined then.
set(CORVEX_MODULE_NO_UNDEFINED "LINKER:--no-undefined")
if((CORVEX_SANITIZE OR CORVEX_TSAN) AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(CORVEX_MODULE_NO_UNDEFINED "")
endif()
