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
