/* Read first by every source of setup.exe and its core on Windows (see
   WindowsProgram.cmake). The C runtime's headers are read here with
   msvcrt's own printf family chosen: any libstdc++ header would switch to
   mingw's, which links a printf of its own and takes %llu, where msvcrt.dll
   before Windows XP knows only %I64u (PRIu64 below says which). */
#define __USE_MINGW_ANSI_STDIO 0
#include <stdio.h>
#include <inttypes.h>
