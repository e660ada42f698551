// The portable half of FullLongPath: the length checks around each
// platform's AbsolutePath.
#include "os/longpath.h"

#include <cstring>

#include "base/limits.h"

// Room for a result that grows past the path limit, so its length can be told.
static const int RESULT_SIZE = 2 * PATH_SIZE;

int FullLongPath(const char* path, char* output, int capacity) {
  char work[RESULT_SIZE];
  int length = AbsolutePath(path, work, RESULT_SIZE);
  if (length == 0) return 0;
  // D:\DIR\ names the directory D:\DIR.
  if (length > 3 && work[length - 1] == '\\') work[--length] = '\0';
  char result[RESULT_SIZE];
  if (!ResolveLongName(work, result)) return 0;
  int resolved = (int)strlen(result);
  if (resolved < capacity) memcpy(output, result, resolved + 1);
  return resolved;
}
