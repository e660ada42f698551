// Single-byte stream access for the codec's inner loops, and the 64-bit
// size of an open file. The locking calls of the standard streams cost more
// than the coding itself, and the one thread of this program never needs the
// lock; each C runtime spells the unlocked calls its own way.
#pragma once

#include <cstdint>
#include <cstdio>

#if defined(_WIN32)

inline int ReadByte(FILE* stream) { return _getc_nolock(stream); }
inline void WriteByte(int byte, FILE* stream) { _putc_nolock(byte, stream); }
// msvcrt.dll before Windows XP has no _ftelli64; its fpos_t is the offset.
inline int64_t TellOffset(FILE* stream) {
  fpos_t position;
  return fgetpos(stream, &position) == 0 ? (int64_t)position : -1;
}

#else

inline int ReadByte(FILE* stream) { return getc_unlocked(stream); }
inline void WriteByte(int byte, FILE* stream) { putc_unlocked(byte, stream); }
inline int64_t TellOffset(FILE* stream) { return ftello(stream); }

#endif
