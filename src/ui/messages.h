// User feedback: messages, questions, the status window, error reports, and
// the stop of a run. Messages are shown where the event happens; in silent
// mode nothing is shown and every question is answered yes.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "base/errors.h"
#include "base/limits.h"
#include "base/settings.h"
#include "base/stop.h"

// A status window; null when none is open (or in silent mode).
typedef void* StatusWindow;

// Shows the formatted text: a box with OK and Cancel on Windows, a line on
// standard error on Linux, which goes on at once. Cancel asks the run to stop
// (RequestStop with exit code 1). Returns 1, or 0 after Cancel.
int MessagePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A question whose answer changes what happens: 1 yes, 0 no. On Windows the
// box's OK is yes and Cancel also stops the run; on Linux only "y" or "yes"
// typed on a terminal is yes, and without a terminal the answer is no.
int QuestionPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The -dt question, with the directory's full path: each platform words it.
extern const char TREE_QUESTION[];

// The formatted text, then the system's text for the last error code, as
// "Failed to create archive a.zqa. No such file or directory."
int FailurePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "Error %d: " with the last system error code and its text, then the
// formatted text (which begins with a line break where the code is to stand
// on a line of its own).
void ErrorPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "Out of memory for %s." with what it was for; always 0, for the caller's
// way out.
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

// The installation's log. While a writer is set, every text that goes
// through MessagePrintf, QuestionPrintf, FailurePrintf and ErrorPrintf is
// also handed to it, shown or not (silent mode), of the kind "Message: ",
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
