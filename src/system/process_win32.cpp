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
  // The log tells what was started; in a verbose run the message does.
  MessagePrintf(VERBOSE, "Running %s", command_line);
  if (!Heard(VERBOSE)) LogPrintf("Running %s", command_line);
  // The child starts as this program did, with only the show value changed;
  // Windows applies it when the flags hold STARTF_USESHOWWINDOW.
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  startup.wShowWindow = (WORD)show;
  char command[PATH_SIZE];  // CreateProcessA may write to it
  if (strlen(command_line) >= sizeof command) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return -1;
  }
  strcpy(command, command_line);
  PROCESS_INFORMATION process;
  BOOL created = CreateProcessA(program, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                &startup, &process);
  if (!created) {
    DWORD error = GetLastError();
    char reason[256];
    LogPrintf("It cannot be started. %s.", SystemErrorText((int)error, reason, sizeof reason));
    SetLastError(error);
    return -1;
  }
  // A wait that fails has not seen the end: it is no success.
  int ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 ? 0 : -1;
  DWORD error = GetLastError();
  if (ended == 0) MessagePrintf(VERBOSE, "%s terminated.", command_line);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  SetLastError(error);
  return ended;
}

// -1 after the report, with the system's reason.
static int FailedToLaunch(const char* inf_file) {
  ReportFailure("Failed to launch %s.", inf_file);
  return -1;
}

static int TooLong(const char* inf_file) {
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return FailedToLaunch(inf_file);
}

int InstallInfSection(const char* inf_file, const char* section, int show) {
  char directory[PATH_SIZE];
  DWORD length = GetCurrentDirectoryA(PATH_SIZE, directory);
  if (length > 0 && length < (DWORD)PATH_SIZE) {
    char long_form[PATH_SIZE];
    // The short form stays current where it has no long one.
    if (FullLongPath(directory, long_form, PATH_SIZE) == 0) SetCurrentDirectoryA(long_form);
  }
  length = GetCurrentDirectoryA(PATH_SIZE, directory);
  if (length == 0 || length >= (DWORD)PATH_SIZE) directory[0] = '\0';
  MessagePrintf(VERBOSE, "Curdir = %s", directory);

  // A path or a command that does not fit would name some other file: the
  // installer is then not started at all.
  char inf_path[PATH_SIZE];
  length = GetFullPathNameA(inf_file, PATH_SIZE, inf_path, nullptr);
  if (length >= (DWORD)PATH_SIZE) return TooLong(inf_file);
  if (length == 0) return FailedToLaunch(inf_file);

  // The engine's programs are started by their full paths: a rundll32.exe
  // beside this program, on a medium that anyone may have filled, would
  // otherwise be found first and run with an administrator's rights.
  char setupapi[PATH_SIZE];
  char program[PATH_SIZE];
  char command[PATH_SIZE];
  int written;
  if (SystemFilePath("SETUPAPI.DLL", setupapi, PATH_SIZE) == 0 && FileExists(setupapi)) {
    if (SystemFilePath("rundll32.exe", program, PATH_SIZE) != 0) return FailedToLaunch(inf_file);
    written = snprintf(command, sizeof command, "rundll32 setupapi,InstallHinfSection %s 128 %s",
                       section, inf_path);
  } else {
    // The 16-bit engine of Windows 95/98 takes 8.3 names only. A name that
    // has no short form (the file is missing) is passed as it is.
    char short_path[PATH_SIZE];
    length = GetShortPathNameA(inf_path, short_path, PATH_SIZE);
    if (length > 0 && length < (DWORD)PATH_SIZE) strcpy(inf_path, short_path);
    if (WindowsFilePath("rundll.exe", program, PATH_SIZE) != 0) return FailedToLaunch(inf_file);
    written = snprintf(command, sizeof command,
                       "rundll.exe setupx.dll,InstallHinfSection %s 128 %s", section, inf_path);
  }
  if (written < 0 || written >= (int)sizeof command) return TooLong(inf_file);
  return RunAndWait(program, command, show) == 0 ? 0 : FailedToLaunch(inf_file);
}
