// Member names between this system and an archive. An archive keeps names
// in the narrow character set of Windows, a code page (1252 by default),
// since that is what the Windows program reads and writes. Windows' own
// calls already speak the code page, so there names pass as they are; the
// Linux build, whose names are UTF-8, converts them (names_posix.cpp).
#pragma once

// One code page's 256 characters as UTF-8, for the Linux build; the Windows
// build leaves it unused.
struct NameCoding {
  int code_page;
  unsigned char length[256];  // 0: the byte has no character
  unsigned char utf8[256][4];
  char no_character[80];  // what a byte without a character makes of a name
};

// Prepares coding for code_page: 0, or 1 after a message when this build
// cannot convert names to it.
int OpenNameCoding(int code_page, NameCoding* coding);

// The archive's form of a name of this system: name itself, or stored (size
// characters) holding it. Null when it would not come back as it is, with
// why (why_size characters) telling why: on Linux a character that the code
// page has not, or a name that Windows cannot hold (\ / : * ? " < > | and
// control characters, a dot or blank at the end, the device names CON, PRN,
// AUX, NUL, COM1 to COM9 and LPT1 to LPT9, with or without an extension).
const char* NameToArchive(const NameCoding* coding, const char* name, char* stored, int size, char* why,
                          int why_size);

// This system's form of a stored name: stored itself, or name (size
// characters) holding it. *why is null, or tells why the name cannot be
// used: a byte without a character in the code page (name shows each such
// byte as \xNN), or a name too long.
const char* NameFromArchive(const NameCoding* coding, const char* stored, char* name, int size,
                            const char** why);

// Linux: the code pages that names convert to, and whether code_page is one.
extern const char SUPPORTED_CODE_PAGES[];
bool CodePageKnown(int code_page);
