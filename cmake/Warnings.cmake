# Our own code builds warning-free; third-party headers come in as system includes.
# Warnings stop the build only when asked (the test and fuzz scripts, and so CI, ask): a user's
# compiler may warn where ours does not, and that must not keep them from building.
option(CRV_WERROR "Treat compiler warnings as errors" OFF)

function(crv_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wconversion -Wsign-conversion
    -Wnull-dereference -Wdouble-promotion -Wformat=2)
  if(CRV_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
