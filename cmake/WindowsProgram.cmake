# setup.exe on Windows: one small self-contained executable that starts on
# every Windows from 95 on. Both Windows presets build setup.exe and its
# core with these choices; only the architecture differs.
#
# - No exceptions, no RTTI, no thread-safe statics: nothing of the C++
#   runtime beyond what is inlined.
# - msvcrt.dll's own printf family (msvcrt_stdio.h).
# - No start-up code of the toolchain: app/runtime_win32.cpp is the
#   entry. msvcrt.dll sets up its stdio when it is loaded.
# - Linked from an explicit list: the C runtime msvcrt.dll, libgcc for the
#   compiler's helpers, the system's own libraries, and nothing else, so a
#   function from anywhere else fails the link. Data is never imported
#   behind the code's back (no auto-import, which needs the start-up code).
# - -Os with link-time optimisation (a tenth smaller); one section per
#   function, and those that nothing calls are dropped. The core's objects
#   hold machine code too, which the test programs link without it. Not one per variable: for Windows, gcc then gives every zeroed
#   array a section with contents, and the codec's arrays would add 130 KB
#   of zeros to the file. Stripped. One link-time partition: gcc 12 stops
#   with an internal error in the administrator check when the code is
#   split across several (and the size is the same).
# setup.map in the build directory shows what each library brought.

set(SETUP_WINDOWS_COMPILE_OPTIONS
  -Os -flto -ffat-lto-objects
  -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-asynchronous-unwind-tables -fno-unwind-tables
  -ffunction-sections
  -include ${CMAKE_CURRENT_LIST_DIR}/msvcrt_stdio.h)

set(SETUP_WINDOWS_LINK_OPTIONS
  -nostdlib -s -Os -flto=auto -flto-partition=one
  -Wl,--gc-sections
  -Wl,--disable-auto-import -Wl,--disable-runtime-pseudo-reloc
  -Wl,--fatal-warnings
  -Wl,-Map=${CMAKE_BINARY_DIR}/setup.map)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  # Windows 95 and NT 4.0 load only images made for subsystem 4.0 or older;
  # 64-bit Windows takes none older than 5.2, the linker's choice there.
  list(APPEND SETUP_WINDOWS_LINK_OPTIONS
    -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0)
endif()

# The core and the program's own sources.
function(setup_windows_sources target)
  target_compile_options(${target} PRIVATE
    "$<$<COMPILE_LANGUAGE:CXX>:${SETUP_WINDOWS_COMPILE_OPTIONS}>")
endfunction()

# The executable.
function(setup_windows_program target)
  setup_windows_sources(${target})
  target_link_options(${target} PRIVATE ${SETUP_WINDOWS_LINK_OPTIONS})
  # No advapi32: the administrator check looks its calls up at run time.
  target_link_libraries(${target} PRIVATE msvcrt gcc user32 gdi32 kernel32)
endfunction()
