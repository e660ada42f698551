// User feedback: message boxes, the status window and error reports.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "ui/settings.h"

// A status window; null when none is open (or in silent mode).
typedef void* StatusWindow;

// Texts are formatted into 1024 characters: at most 1023 and the terminator.
const int MESSAGE_BUFFER_SIZE = 1024;

// Shows the formatted text with OK and Cancel; Cancel ends the process with
// exit code 1. Returns the number of characters formatted.
int MessagePrintf(const char* format, ...);

// Opens a status window (window null) or replaces the text of an open one.
StatusWindow StatusPrintf(StatusWindow window, const char* format, ...);

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

// The statistics of a member packed into an archive, and the size of one
// unpacked: on Windows the codec's lines on standard output; on Linux one
// line each, and only in verbose mode.
void ReportPacked(const char* name, uint64_t input_size, uint64_t coded_size);
void ReportUnpacked(const char* name, uint64_t size);

// "Error %d: " with the last system error code, then the formatted text.
void ErrorPrintf(const char* format, ...);

// Formats like wvsprintfA into a buffer of MESSAGE_BUFFER_SIZE characters,
// cutting longer output; returns the length written.
int FormatText(char* buffer, const char* format, va_list args);

// Test seam: when set, messages go here instead of to the user. The hook
// returns the button chosen: 1 for OK, 2 for Cancel.
typedef int (*MessageHook)(const char* text);
extern MessageHook message_hook;
