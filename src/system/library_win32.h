// Windows build only: a system library loaded at run time by its full path
// in the system directory, never by a bare name that a copy beside the
// program could answer, and released on every way out.
#pragma once

#include <windows.h>

#include "base/text.h"
#include "os/platform.h"

struct Library {
  HMODULE handle;
  explicit Library(const char* name) : handle(nullptr) {
    char path[PATH_SIZE];
    if (SystemFilePath(name, path, PATH_SIZE) == 0) handle = LoadLibraryA(path);
  }
  ~Library() {
    if (handle) FreeLibrary(handle);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  FARPROC Find(const char* name) const { return handle ? GetProcAddress(handle, name) : nullptr; }
};
