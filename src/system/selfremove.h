// Removal of the program's own executable after it has ended.
#pragma once

// Leaves a hidden helper (a batch file on Windows, a detached shell script
// elsewhere) that deletes the executable once the process has ended, then
// its directory when empty, then itself. 0, or -1 with the system's code
// when it cannot, with nothing of its own left behind.
int RemoveSelf();

// The batch text is composed in this many characters, terminator included.
const int BATCH_TEXT_SIZE = 1000;

// temp_dir (ending in a separator) followed by "DMX%04X" with the low 16
// bits of tick and then extension (".BAT"). Returns its length, or 0 when
// it would not fit in size characters with the terminator.
int MakeBatchName(const char* temp_dir, unsigned long tick, const char* extension, char* path,
                  int size);

// The five-line batch file that deletes module_file (retrying until the
// ended process has let it go), removes its directory and deletes the batch
// at batch_path. Every '%' of the paths is written doubled, since the
// command interpreter expands '%' in a batch file. Returns the length of the
// text, or 0 when it would not fit in size characters with the terminator
// or module_file has no directory part; nothing is cut.
int ComposeRemovalBatch(const char* module_file, const char* batch_path, char* text, int size);

// The shell script of the same job for a POSIX system: waits until process
// process_id has ended, deletes module_file, removes its directory when
// empty and deletes the script at script_path. Paths are single-quoted.
// Returns the length, or 0 when it would not fit in size characters.
int ComposeRemovalScript(long process_id, const char* module_file, const char* script_path,
                         char* text, int size);
