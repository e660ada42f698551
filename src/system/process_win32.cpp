// Starting programs and waiting for them on Windows, and the setup engine's
// command-line entry point for INF sections.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fileutil/paths.h"
#include "fileutil/longpath.h"
#include "system/process.h"
#include "ui/messages.h"

int RunAndWait(const char* command_line, int show) {
  if (settings.verbose) MessagePrintf("Running %s", command_line);
  // The child starts as this program did, with only the show value changed;
  // Windows applies it when the flags hold STARTF_USESHOWWINDOW.
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  startup.wShowWindow = (WORD)show;
  // CreateProcessA may write into the command line: it gets a copy.
  size_t size = strlen(command_line) + 1;
  char* command = (char*)malloc(size);
  if (!command) return 0;
  memcpy(command, command_line, size);
  PROCESS_INFORMATION process;
  BOOL created = CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                &startup, &process);
  free(command);
  if (!created) return 0;
  WaitForSingleObject(process.hProcess, INFINITE);
  if (settings.verbose) MessagePrintf("%s terminated.", command_line);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return created;
}

static int FailedToLaunch(const char* inf_file) {
  MessagePrintf("Failed to launch %s", inf_file);
  return 0;
}

int InstallInfSection(const char* inf_file, const char* section, int show) {
  char directory[PATH_SIZE];
  DWORD length = GetCurrentDirectoryA(PATH_SIZE, directory);
  if (length > 0 && length < (DWORD)PATH_SIZE) {
    char long_form[PATH_SIZE];
    int resolved = FullLongPath(directory, long_form, PATH_SIZE);
    if (resolved != 0 && resolved < PATH_SIZE) SetCurrentDirectoryA(long_form);
  }
  if (settings.verbose) {
    length = GetCurrentDirectoryA(PATH_SIZE, directory);
    if (length == 0 || length >= (DWORD)PATH_SIZE) directory[0] = '\0';
    MessagePrintf("Curdir = %s", directory);
  }

  // A path or a command that does not fit would name some other file: the
  // installer is then not started at all.
  char inf_path[PATH_SIZE];
  length = GetFullPathNameA(inf_file, PATH_SIZE, inf_path, nullptr);
  if (length == 0 || length >= (DWORD)PATH_SIZE) return FailedToLaunch(inf_file);

  char setupapi[PATH_SIZE];
  length = GetSystemDirectoryA(setupapi, PATH_SIZE);
  int has_setupapi = 0;
  if (length > 0 && length + strlen("\\SETUPAPI.DLL") < (DWORD)PATH_SIZE) {
    strcat(setupapi, "\\SETUPAPI.DLL");
    has_setupapi = FileExists(setupapi);
  }

  char command[PATH_SIZE];
  int written;
  if (has_setupapi) {
    written = snprintf(command, sizeof command, "rundll32 setupapi,InstallHinfSection %s 128 %s",
                       section, inf_path);
  } else {
    // The 16-bit engine of Windows 95/98 takes 8.3 names only. A name that
    // has no short form (the file is missing) is passed as it is.
    char short_path[PATH_SIZE];
    length = GetShortPathNameA(inf_path, short_path, PATH_SIZE);
    if (length > 0 && length < (DWORD)PATH_SIZE) strcpy(inf_path, short_path);
    written = snprintf(command, sizeof command,
                       "rundll.exe setupx.dll,InstallHinfSection %s 128 %s", section, inf_path);
  }
  if (written < 0 || written >= (int)sizeof command) return FailedToLaunch(inf_file);

  int result = RunAndWait(command, show);
  if (result == 0) FailedToLaunch(inf_file);
  return result;
}
