// Member names between this system and an archive. An archive keeps names
// in the narrow character set of Windows, a code page (1252 by default),
// since that is what the Windows program reads and writes. Windows' own
// calls already speak the code page, so there names pass as they are; the
// Linux build, whose names are UTF-8, converts them (names_posix.cpp).
#pragma once

const int DEFAULT_CODE_PAGE = 1252;

// One code page's 256 characters as UTF-8, for the Linux build; the Windows
// build leaves it unused.
struct NameCoding {
  int code_page;
  unsigned char length[256];  // 0: the byte has no character
  unsigned char utf8[256][4];
};

// Prepares coding for code_page: 0, or -1 when this build cannot convert
// names to it (the code pages it can are listed in SUPPORTED_CODE_PAGES).
int OpenNameCoding(int code_page, NameCoding* coding);
extern const char SUPPORTED_CODE_PAGES[];

// The archive's form of a name of this system: 0, or -1 when the code page
// cannot hold it, with why (in why_size characters) telling which character.
int NameToArchive(const NameCoding* coding, const char* name, char* stored, int size, char* why,
                  int why_size);

// This system's form of a stored name: 0; NAME_NO_CHARACTER when a byte has
// no character in the code page (name then shows each such byte as \xNN);
// NAME_TOO_LONG when it does not fit in size characters.
const int NAME_NO_CHARACTER = 1;
const int NAME_TOO_LONG = 2;
int NameFromArchive(const NameCoding* coding, const char* stored, char* name, int size);

// Why Windows could not hold name, as words for a message, or null when it
// can: \ / : * ? " < > | and control characters, a dot or blank at the end,
// and the names of devices (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9,
// with or without an extension). An archive holds only what Windows can.
const char* WindowsNameFault(const char* name, char* why, int why_size);
