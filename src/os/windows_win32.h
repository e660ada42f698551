// Windows build only: which family of Windows runs the program.
#pragma once

#include <windows.h>

// Windows 95, 98 and Me: no security, no links, no directory handles, no
// FILE_SHARE_DELETE.
inline bool IsWindows95Family() { return (GetVersion() & 0x80000000u) != 0; }
