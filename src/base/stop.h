// The stop of a run, asked for by Cancel in a box (exit code 1) or by an
// interrupt (Linux: SIGINT, SIGTERM, SIGHUP; 128 plus its number).
// Operations look at it where they can stop, undo what they had half made,
// and return; the entry then ends the run with the stop's exit code. The
// first request wins; RequestStop is safe in a signal handler.
#pragma once

void RequestStop(int exit_code);
int StopRequested();  // the exit code asked for, or 0
bool Interrupted();   // the stop came from an interrupt, not from Cancel
void ClearStop();     // for tests that run many operations in one process
