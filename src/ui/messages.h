// User feedback: messages of their kinds, failure reports, the status
// window and the progress. Messages are shown where the event happens; in
// silent mode nothing is shown and every question is answered yes.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "base/errors.h"
#include "base/limits.h"
#include "base/settings.h"
#include "base/stop.h"

// A status window; null when none is open (or in silent mode).
typedef void* StatusWindow;

// What a message is, and so what becomes of it. Every kind is shown (a box
// with OK and Cancel on Windows, a line on standard error on Linux, which
// goes on at once) and handed to the log; in silent mode nothing is shown
// and the message answers as OK, a question as yes. A verbose message is
// said only with -v: without it, it is neither shown nor logged.
enum MessageKind {
  NEWS,      // how the run goes: "Archive a.zqa complete."
  WARNING,   // something went wrong, and the operation goes on
  FAILURE,   // what went wrong ends the operation
  QUESTION,  // an answer that changes what happens
  VERBOSE,   // a diagnostic of -v: "Current dir: C:\ZQK9150"
};

// Shows the formatted text as a message of its kind: 1, or 0 after Cancel,
// which asks the run to stop (RequestStop with exit code 1). A question is
// 1 for yes and 0 for no, which stops nothing: on Windows the box's OK is
// yes; on Linux only "y" or "yes" typed on a terminal is yes, and without a
// terminal the answer is no.
int MessagePrintf(MessageKind kind, const char* format, ...) __attribute__((format(printf, 2, 3)));
int MessageVPrintf(MessageKind kind, const char* format, va_list args);
// Whether a message of kind is said at all (shown or logged): for a report
// composed ahead of its showing, which costs work.
bool Heard(MessageKind kind);
// The -dt question, with the directory's full path: each platform words it.
extern const char TREE_QUESTION[];

// How a failure report is worded. REASON_AFTER: the action, then the
// system's reason: "Cannot delete a.txt. Access is denied." CODE_FIRST, the
// form the copy reports have always had: "Error 5: Access is denied", then
// the action, which begins with a line break to stand on a line of its own.
enum FailureForm { REASON_AFTER, CODE_FIRST };
// The one report of a failed action, a failure message with the system's
// reason for the last error code. action is its sentence, with "%s" where
// the path stands ("Cannot delete %s."); the path goes in as it is, so that
// a '%' in a file name stays. Returns as MessagePrintf.
int ReportFailure(const char* action, const char* path, FailureForm form = REASON_AFTER);
// That text for code, into buffer (MESSAGE_BUFFER_SIZE characters), for a
// report that is shown later: its length.
int ComposeFailure(char* buffer, const char* action, const char* path, int code, FailureForm form);

// "Out of memory for %s." with what it was for, a failure; always 0, for
// the caller's way out.
int OutOfMemory(const char* what);

// Opens a status window (window null) or replaces the text of an open one.
StatusWindow StatusPrintf(StatusWindow window, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Destroys *window if it is open and sets it to null. 0, or 1 when the
// window system refused.
int StatusClose(StatusWindow* window);

// How far -a, -x and -c have come as a whole, for the status line of the
// command-line build on a terminal; Windows shows only its status window.
// 1 when a progress would be shown (a caller may then count first).
int ProgressWanted();
// Starts a progress; a total of 0 is unknown. The line shows the status
// text while a status window is open, else label (which may be null).
void ProgressBegin(const char* label, int64_t files_total, int64_t bytes_total);
// What is done so far.
void ProgressUpdate(int64_t files_done, int64_t bytes_done);
// Ends the progress and takes its line away; so does closing the last
// status window.
void ProgressEnd();

// In verbose mode, a line of report on standard output (as gzip -v and tar
// -v have it), apart from the messages.
void VerbosePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A line of the run's own output (the listing of --list) on standard output.
void OutputPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The installation's log. While a writer is set, every message that is said
// is also handed to it, shown or not (silent mode), of the kind "Message: ",
// and LogPrintf and LogText hand it a text that only the log gets
// (LogPrintf's of no kind, ""). The writer keeps the system's last error
// code as it was.
typedef void (*LogWriter)(void* log, const char* kind, const char* text);
void SetLogWriter(LogWriter writer, void* log);
void LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogText(const char* kind, const char* text);

// Formats like wvsprintfA into a buffer of MESSAGE_BUFFER_SIZE characters,
// cutting longer output; returns the length written.
int FormatText(char* buffer, const char* format, va_list args);

// Test seam: when set, messages and questions go here instead of to the
// user. The hook returns the button chosen: 1 for OK (yes), 2 for Cancel (no).
typedef int (*MessageHook)(const char* text);
extern MessageHook message_hook;
