// Path and text helpers that every layer shares.
#pragma once

#include "base/limits.h"

// The part of path after its last separator (backslash or slash).
const char* BaseName(const char* path);

// Compares two texts with the letters A to Z taken as a to z.
bool SameTextIgnoringCase(const char* a, const char* b);

// A to Z become a to z; nothing else changes, whatever the locale.
char LowerLetter(char c);
