// Entering a directory for a walk and leaving the current drive and
// directory exactly as they were found; entering and writing below it
// without following a link that the walk did not make.
#pragma once

#include <cstdio>

#include "fileutil/fsops.h"
#include "fileutil/paths.h"

struct DirectoryVisit {
  char original[PATH_SIZE];  // the current directory, its drive included
  char kept[PATH_SIZE];      // current directory of the path's drive
};

// Makes path current: 0, the result of ChangeDrive when its drive cannot be
// made current, or -1 when the directory cannot be entered. Nothing is
// changed when it fails.
int EnterLevel(const char* path, DirectoryVisit* visit);

// Returns to the directory and drive that EnterLevel found. The directory
// itself is restored, not only its drive: a C runtime need not remember the
// current directory of every drive.
void LeaveLevel(const DirectoryVisit* visit);

// In verbose mode, shows "Current dir: %s" with the current directory.
void ShowCurrentDir();

// A subdirectory entered by EnterOwnDirectory: it and the directory it was
// entered from, both held until LeaveOwnDirectory.
struct OwnLevel {
  HeldDirectory parent;
  HeldDirectory self;
};

// Makes the subdirectory name of the current directory current, never
// through a link: 0, NOT_OWN_DIRECTORY when a link or something other than a
// directory stands under the name, -1 when it cannot be entered.
int EnterOwnDirectory(const char* name, OwnLevel* level);
// Returns to the directory that EnterOwnDirectory left, and lets both go.
void LeaveOwnDirectory(OwnLevel* level);

// Creates the file name in the current directory anew for binary writing: a
// file or a link standing under the name goes first (the link itself, never
// what it leads to). Null when a directory stands there, or the entry cannot
// be replaced or the file created.
FILE* CreateFileAnew(const char* name);
