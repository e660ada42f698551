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
// first. 1, or 0 when its path or the command does not fit.
static int InterpreterCommand(const char* batch_path, char* program, char* command) {
  bool nt = !IsWindows95Family();
  if (!(nt ? SystemFilePath("cmd.exe", program, PATH_SIZE)
           : WindowsFilePath("COMMAND.COM", program, PATH_SIZE)))
    return 0;
  int written = snprintf(command, PATH_SIZE, nt ? "cmd.exe /c \"%s\"" : "COMMAND.COM /c %s",
                         batch_path);
  return written > 0 && written < PATH_SIZE;
}

void RemoveSelf() {
  char temp_dir[PATH_SIZE];
  DWORD temp_length = GetTempPathA(PATH_SIZE, temp_dir);
  if (temp_length == 0 || temp_length >= (DWORD)PATH_SIZE) return;
  char batch_path[PATH_SIZE];
  if (!MakeBatchName(temp_dir, GetTickCount(), ".BAT", batch_path, PATH_SIZE)) return;

  char module[PATH_SIZE];
  DWORD module_length = GetModuleFileNameA(nullptr, module, PATH_SIZE);
  if (module_length == 0 || module_length >= (DWORD)PATH_SIZE) return;  // cut: not our file

  // Composed before the file is made: a text that does not fit leaves no
  // batch file behind and starts nothing.
  char text[BATCH_TEXT_SIZE];
  int length = ComposeRemovalBatch(module, batch_path, text, BATCH_TEXT_SIZE);
  if (length == 0) return;
  // del leaves a read-only file alone, and the batch would retry it for
  // ever: such a program (copied from a CD, say) is made writable first,
  // and when that cannot be done nothing is started.
  DWORD attributes = GetFileAttributesA(module);
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_READONLY) &&
      !SetFileAttributesA(module, attributes & ~FILE_ATTRIBUTE_READONLY))
    return;

  HANDLE file = CreateFileA(batch_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, text, (DWORD)length, &written, nullptr);
  CloseHandle(file);

  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process;
  char program[PATH_SIZE];
  char command[PATH_SIZE];
  if (!InterpreterCommand(batch_path, program, command)) return;
  if (!CreateProcessA(program, command, nullptr, nullptr, FALSE,
                      CREATE_SUSPENDED | IDLE_PRIORITY_CLASS, nullptr, "\\", &startup, &process))
    return;

  // The batch runs only once the program outranks it, so that its loop of
  // attempts does not hold up the program's own end.
  SetThreadPriority(process.hThread, THREAD_PRIORITY_IDLE);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
  CloseHandle(process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
}
