// The error channel: the calling thread's last system error code, and the
// codes of the program's own beside the system's.
#pragma once

// The calling thread's last system error code (errno, GetLastError), and
// the text of a code as the system words it, without a final period.
int LastSystemError();
void SetSystemError(int code);
const char* SystemErrorText(int code, char* buffer, int size);
// The system's own words for a code, which each platform gives.
const char* PlatformErrorText(int code, char* buffer, int size);
// Codes of the program's own, beside the system's: a pipe or a device where
// a regular file is wanted.
const int ERROR_NOT_REGULAR_FILE = 0x20000001;
// And a file that ended before the size it had when it was opened.
const int ERROR_FILE_ENDED_EARLY = 0x20000002;
// And one that is no longer as it was when it was listed.
const int ERROR_FILE_CHANGED = 0x20000003;
// And a symbolic link whose file is not there.
const int ERROR_BROKEN_LINK = 0x20000004;
// And a directory that is not one of its own: a link, a junction or another
// reparse point stands under its name, or something not a directory.
const int ERROR_NOT_OWN_DIRECTORY = 0x20000005;
// The system's code for "out of memory".
int OutOfMemoryCode();
