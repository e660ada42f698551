// Reading the INF file's sections, as the platform's profile reader does.
#pragma once

// With key null: the section's key names, each NUL-terminated, ended by an
// empty name. Otherwise the key's value, or default_value when it has none.
// Results are cut to size. Returns the number of characters copied.
int ReadProfileString(const char* section, const char* key, const char* default_value,
                      char* buffer, int size, const char* file);
// 1 when file names a file (the profile reader takes a missing one as empty).
int ProfileFileExists(const char* file);
