// Small path and text helpers shared by every layer.
#include "base/text.h"

const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/') base = p + 1;
  return base;
}

char LowerLetter(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

bool SameTextIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (LowerLetter(*a) != LowerLetter(*b)) return false;
  return *a == *b;
}
