# corvex_warnings(<target>): the project's warning set, applied to our own targets only
# (the VST 3 SDK sources are compiled with their own, quieter flags).
function(corvex_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow=local -Wnon-virtual-dtor)
  endif()
endfunction()
