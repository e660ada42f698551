// The words for the program's own codes, beside the system's.
#include "base/errors.h"

const char* SystemErrorText(int code, char* buffer, int size) {
  if (code == ERROR_NOT_REGULAR_FILE) return "Not a regular file but a pipe, a socket or a device";
  if (code == ERROR_BROKEN_LINK) return "A link to a file that is not there";
  if (code == ERROR_FILE_ENDED_EARLY) return "The file ended before its size";
  if (code == ERROR_FILE_CHANGED) return "The file changed since it was listed";
  if (code == ERROR_NOT_OWN_DIRECTORY) return "A link or not a directory";
  return PlatformErrorText(code, buffer, size);
}
