// The installation's log. Each entry is the time of day, its kind and its
// text; the text's further lines are indented below its first, and lines
// end in CR LF, as Windows' own editors read them.
#include "app/installlog.h"

#include <cstdio>
#include <cstring>

#include "os/platform.h"
#include "ui/messages.h"

namespace {

void Put(InstallLog* log, const char* text, size_t length) {
  if (log->file.value != NO_FILE && WriteToFile(log->file, text, length) != 0) CloseFileHandle(&log->file);
}

// A line break, and the indentation of a further line of the same entry.
const char NEXT_LINE[] = "\r\n         ";

void WriteEntry(void* context, const char* kind, const char* text) {
  InstallLog* log = static_cast<InstallLog*>(context);
  if (log->file.value == NO_FILE) return;
  int code = LastSystemError();
  // After what another installation may have written meanwhile.
  // A log that cannot be written has nobody to tell: the entry is tried
  // where the file stands.
  int64_t end;
  if (SizeOfFile(log->file, &end) == 0) SeekInFile(log->file, end);
  LocalTime now;
  ReadLocalTime(&now);
  char head[64];
  int length = snprintf(head, sizeof head, "%02d:%02d:%02d %s", now.hour, now.minute, now.second, kind);
  Put(log, head, (size_t)length);
  for (const char* line = text;;) {
    const char* end = strchr(line, '\n');
    size_t size = end ? (size_t)(end - line) : strlen(line);
    if (size > 0 && line[size - 1] == '\r') --size;
    Put(log, line, size);
    if (!end || !end[1]) break;  // a line break at the end ends the entry
    Put(log, NEXT_LINE, 11);
    line = end + 1;
  }
  Put(log, NEXT_LINE, 2);
  SetSystemError(code);
}

}  // namespace

void OpenInstallLog(InstallLog* log, const char* path, bool fresh) {
  log->file.value = NO_FILE;
  if (fresh) {
    DeleteEntryAt(nullptr, path);
    OpenFileAt(nullptr, path, ACCESS_CREATE_SHARED, &log->file);
  } else {
    FileIdentity identity;
    if (OpenFileAt(nullptr, path, ACCESS_APPEND, &log->file) == 0 &&
        (IdentifyFile(log->file, &identity) != 0 || identity.links != 1))
      CloseFileHandle(&log->file);
  }
  if (log->file.value != NO_FILE) SetLogWriter(WriteEntry, log);
}

void CloseInstallLog(InstallLog* log) {
  SetLogWriter(nullptr, nullptr);
  CloseFileHandle(&log->file);
}
