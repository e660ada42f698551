# platform_sources(<var> <stem>...): for each stem append <stem>_win32.cpp or
# <stem>_posix.cpp, whichever matches the target platform.
function(platform_sources var)
  set(list ${${var}})
  foreach(stem IN LISTS ARGN)
    list(APPEND list ${stem}_${SETUP_PLATFORM}.cpp)
  endforeach()
  set(${var} ${list} PARENT_SCOPE)
endfunction()
