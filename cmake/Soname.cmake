# yarl_soname(<var> <library file>): the runtime name (SONAME) of a shared
# library found at configure time, for code that opens the library itself
# with dlopen: the development symlink find_library returns ("libx.so") is
# absent where only the runtime package is installed.

function(yarl_soname var library)
  if(NOT CMAKE_OBJDUMP)
    message(FATAL_ERROR "objdump not found: it reads the SONAME of ${library}")
  endif()
  execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${library} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  string(REGEX MATCH "SONAME +([^ \n]+)" found "${dump}")
  if(failed OR NOT CMAKE_MATCH_1)
    message(FATAL_ERROR "No SONAME in ${library}")
  endif()
  set(${var} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()
