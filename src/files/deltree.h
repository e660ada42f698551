// Removal of a directory tree.
#pragma once

// 0 gone (a drive's root: emptied), 1 the path does not resolve, -1 something could not be entered or
// removed (named in a message, with the system's reason) or path is a file.
// A link, in the tree or at path, goes itself: what it leads to is never
// entered or deleted. The run's stop ends the removal where it stands.
int DeleteTree(const char* path);

// As DeleteTree, but the file named kept directly in path (when not null)
// stays, and with it the directory: 0 when everything else is gone. For a
// program that removes the tree it runs from. An entry that is in use (a
// scanner or an indexer holding a new file for a moment) is tried again with
// growing pauses, for up to patience_ms in all; the log says what was waited
// for and how long.
int DeleteTreeKeeping(const char* path, const char* kept, int patience_ms);
