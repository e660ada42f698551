// The portable half of FullLongPath: the length checks around each
// platform's AbsolutePath.
#include "os/longpath.h"

#include <cstring>

#include "base/errors.h"
#include "base/limits.h"
#include "os/fsops.h"

// Room for a result that grows past the path limit, so its length can be told.
static const int RESULT_SIZE = 2 * PATH_SIZE;

int FullLongPath(const char* path, char* output, int capacity) {
  char work[RESULT_SIZE];
  if (AbsolutePath(path, work, RESULT_SIZE) != 0) return -1;
  int length = (int)strlen(work);
  // D:\DIR\ names the directory D:\DIR.
  if (length > 3 && work[length - 1] == '\\') work[--length] = '\0';
  char result[RESULT_SIZE];
  if (ResolveLongName(work, result) != 0) return -1;
  int resolved = (int)strlen(result);
  if (resolved == 0) {
    SetSystemError(NameTooLongCode());  // an empty result names nothing
    return -1;
  }
  if (resolved >= capacity) {
    SetSystemError(NameTooLongCode());
    return -1;
  }
  memcpy(output, result, resolved + 1);
  return 0;
}
