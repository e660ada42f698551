// Self-removal on Windows: a batch file in the temporary directory, started
// hidden and held at idle priority, retries deleting the executable until
// the ended process has let go of it.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "os/platform.h"
#include "os/windows_win32.h"
#include "system/selfremove.h"

// The command interpreter that runs the batch, by its full path: started
// for a bare batch name, Windows would look for it by name, and a cmd.exe
// beside the program (on a medium anyone may have filled) could be found
// first. 0, or -1 when its path or the command does not fit.
static int InterpreterCommand(const char* batch_path, char* program, char* command) {
  bool nt = !IsWindows95Family();
  if ((nt ? SystemFilePath("cmd.exe", program, PATH_SIZE) : WindowsFilePath("COMMAND.COM", program, PATH_SIZE)) != 0)
    return -1;
  int written = snprintf(command, PATH_SIZE, nt ? "cmd.exe /c \"%s\"" : "COMMAND.COM /c %s",
                         batch_path);
  if (written > 0 && written < PATH_SIZE) return 0;
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return -1;
}

static int TooLong() {
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return -1;
}

int RemoveSelf() {
  char temp_dir[PATH_SIZE];
  if (ReadTempDir(temp_dir, PATH_SIZE) != 0) return -1;
  char batch_path[PATH_SIZE];
  if (!MakeBatchName(temp_dir, GetTickCount(), ".BAT", batch_path, PATH_SIZE)) return TooLong();

  char module[PATH_SIZE];
  DWORD module_length = GetModuleFileNameA(nullptr, module, PATH_SIZE);
  if (module_length == 0) return -1;
  if (module_length >= (DWORD)PATH_SIZE) return TooLong();  // cut: not our file

  // Composed before the file is made: a text that does not fit leaves no
  // batch file behind and starts nothing.
  char text[BATCH_TEXT_SIZE];
  int length = ComposeRemovalBatch(module, batch_path, text, BATCH_TEXT_SIZE);
  if (length == 0) return TooLong();
  // del leaves a read-only file alone, and the batch would retry it for
  // ever: such a program (copied from a CD, say) is made writable first,
  // and when that cannot be done nothing is started.
  DWORD attributes = GetFileAttributesA(module);
  if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
  if ((attributes & FILE_ATTRIBUTE_READONLY) &&
      !SetFileAttributesA(module, attributes & ~FILE_ATTRIBUTE_READONLY))
    return -1;

  HANDLE file = CreateFileA(batch_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  // A batch that was not written whole would run cut: it goes instead.
  DWORD written = 0, error = NO_ERROR;
  if (!WriteFile(file, text, (DWORD)length, &written, nullptr)) error = GetLastError();
  else if (written != (DWORD)length) error = ERROR_DISK_FULL;
  if (!CloseHandle(file) && error == NO_ERROR) error = GetLastError();
  if (error != NO_ERROR) {
    DeleteFileA(batch_path);
    SetLastError(error);
    return -1;
  }

  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process;
  char program[PATH_SIZE];
  char command[PATH_SIZE];
  if (InterpreterCommand(batch_path, program, command) != 0 ||
      !CreateProcessA(program, command, nullptr, nullptr, FALSE, CREATE_SUSPENDED | IDLE_PRIORITY_CLASS, nullptr,
                      "\\", &startup, &process)) {
    DWORD error = GetLastError();
    DeleteFileA(batch_path);
    SetLastError(error);
    return -1;
  }

  // The batch runs only once the program outranks it, so that its loop of
  // attempts does not hold up the program's own end.
  SetThreadPriority(process.hThread, THREAD_PRIORITY_IDLE);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
  CloseHandle(process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  return 0;
}
