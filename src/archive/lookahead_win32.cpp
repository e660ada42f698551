// Decoding ahead is left out of the Windows build: the program that ships
// must stay within 64 KiB, and the machines it was made for (the package
// it unpacks is small, Windows 95 runs on one processor) gain nothing from
// it. Unpacking still writes on worker threads there.
#include "archive/lookahead.h"

Lookahead* StartLookahead(size_t) { return nullptr; }
void FinishLookahead(Lookahead*) {}
void ReadAheadFrom(Lookahead*, FileHandle) {}
void OfferBlock(Lookahead*, int64_t, const uint8_t*, size_t) {}
AheadMember* TakeAheadMember(Lookahead*, int64_t) { return nullptr; }
void FreeAheadMember(Lookahead*, AheadMember*) {}
