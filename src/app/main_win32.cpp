// The Windows entry point: a GUI program without a main window.
#include <windows.h>

#include "app/entry.h"
#include "base/settings.h"
#include "ui/messages.h"

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryProc)(LPCSTR);

// Libraries come from the system directory only, never from the program's
// own folder (a medium that anyone may have filled) or the current one.
// Looked up, not imported: older systems lack these calls.
static void LimitLibrarySearch() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  SetDefaultDllDirectoriesProc set_default =
      (SetDefaultDllDirectoriesProc)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
  if (set_default) set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryProc set_directory =
      (SetDllDirectoryProc)(void*)GetProcAddress(kernel, "SetDllDirectoryA");
  if (set_directory) set_directory("");  // drops the current directory
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  LimitLibrarySearch();
  settings.instance = instance;
  GetModuleFileNameA(nullptr, settings.module_file, PATH_SIZE);
  return RunProgram(command_line);
}
