// What the system offers besides files: the current drive and directory,
// its own folders, and time. Each platform implements it (platform_posix.cpp,
// platform_win32.cpp). Results as in fsops.h: 0, or -1 with the system's
// error code (a path that does not fit in size characters fails with the
// code for a name too long, one the system lacks with "not found").
#pragma once

// The current directory into buffer (size bytes).
int ReadCurrentDir(char* buffer, int size);
int EnterDirectory(const char* path);
// Makes the drive of letter current; where there are no drives, nothing
// needs doing.
int ChangeDrive(char letter);
// The Windows directory.
int ReadWindowsDir(char* buffer, int size);
// The full path of name in the system directory, where Windows keeps its own
// programs and libraries; in the Windows directory (the 95 family keeps some
// programs there).
int SystemFilePath(const char* name, char* buffer, int size);
int WindowsFilePath(const char* name, char* buffer, int size);
// The temporary directory, ending in a separator.
int ReadTempDir(char* buffer, int size);
void PauseMs(int milliseconds);
// The local date and time of day, in the order that Windows keeps them.
struct LocalTime {
  unsigned short year, month, weekday, day, hour, minute, second, millisecond;
};
void ReadLocalTime(LocalTime* now);
// The processors this process may run on, at least 1.
int ProcessorCount();
// Makes SIGINT, SIGTERM and SIGHUP ask for the stop, once: a second one
// ends the process as usual. Nothing on Windows.
void WatchInterrupts();
