// Starting programs and waiting for them on Windows, and the setup engine's
// command-line entry point for INF sections.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "os/fsops.h"
#include "os/longpath.h"
#include "os/platform.h"
#include "system/process.h"
#include "ui/messages.h"

int RunAndWait(const char* program, const char* command_line, int show) {
  if (settings.verbose) MessagePrintf("Running %s", command_line);
  else LogPrintf("Running %s", command_line);
  // The child starts as this program did, with only the show value changed;
  // Windows applies it when the flags hold STARTF_USESHOWWINDOW.
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  startup.wShowWindow = (WORD)show;
  char command[PATH_SIZE];  // CreateProcessA may write to it
  if (strlen(command_line) >= sizeof command) return 0;
  strcpy(command, command_line);
  PROCESS_INFORMATION process;
  BOOL created = CreateProcessA(program, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                &startup, &process);
  if (!created) {
    DWORD error = GetLastError();
    char reason[256];
    LogPrintf("It cannot be started. %s.", SystemErrorText((int)error, reason, sizeof reason));
    SetLastError(error);
    return 0;
  }
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

  // The engine's programs are started by their full paths: a rundll32.exe
  // beside this program, on a medium that anyone may have filled, would
  // otherwise be found first and run with an administrator's rights.
  char setupapi[PATH_SIZE];
  char program[PATH_SIZE];
  char command[PATH_SIZE];
  int written;
  if (SystemFilePath("SETUPAPI.DLL", setupapi, PATH_SIZE) && FileExists(setupapi)) {
    if (!SystemFilePath("rundll32.exe", program, PATH_SIZE)) return FailedToLaunch(inf_file);
    written = snprintf(command, sizeof command, "rundll32 setupapi,InstallHinfSection %s 128 %s",
                       section, inf_path);
  } else {
    // The 16-bit engine of Windows 95/98 takes 8.3 names only. A name that
    // has no short form (the file is missing) is passed as it is.
    char short_path[PATH_SIZE];
    length = GetShortPathNameA(inf_path, short_path, PATH_SIZE);
    if (length > 0 && length < (DWORD)PATH_SIZE) strcpy(inf_path, short_path);
    if (!WindowsFilePath("rundll.exe", program, PATH_SIZE)) return FailedToLaunch(inf_file);
    written = snprintf(command, sizeof command,
                       "rundll.exe setupx.dll,InstallHinfSection %s 128 %s", section, inf_path);
  }
  if (written < 0 || written >= (int)sizeof command) return FailedToLaunch(inf_file);

  int result = RunAndWait(program, command, show);
  if (result == 0) FailedToLaunch(inf_file);
  return result;
}
