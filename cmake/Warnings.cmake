# Project-wide warning set; applied per target so third-party code is untouched.
function(vesk_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
    -Wnon-virtual-dtor -Wcast-align -Woverloaded-virtual -Wformat=2
    -Wimplicit-fallthrough)
  if(VESK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
