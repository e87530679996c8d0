# corvex_warnings(<target>): the project's warning set, applied to our own targets only
# (the VST 3 SDK sources are compiled with their own, quieter flags).
function(corvex_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  elseif(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # clang has no -Wshadow=local; -Wshadow-uncaptured-local is the nearest.
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow-uncaptured-local -Wnon-virtual-dtor)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow=local -Wnon-virtual-dtor)
  endif()
endfunction()
