// Entering a directory for a walk and leaving the current drive and
// directory exactly as they were found.
#pragma once

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
