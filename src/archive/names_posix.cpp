// Names on Linux are UTF-8; an archive holds them in a Windows code page.
// glibc's iconv tells each byte's character once, into a table, so a name
// converts without a call per name and only where the mapping is one to one.
#include <iconv.h>

#include <cstdio>
#include <cstring>

#include "archive/names.h"
#include "base/text.h"
#include "ui/messages.h"

// Code pages of one byte a character, in which every byte stands for one
// character of its own (those that compose accents are left out).
static const int CODE_PAGES[] = {437, 850, 852, 855, 857, 858, 860, 861, 862, 863, 865, 866,
                                 869, 874, 1250, 1251, 1252, 1253, 1254, 1256, 1257};
const char SUPPORTED_CODE_PAGES[] =
    "437, 850, 852, 855, 857, 858, 860, 861, 862, 863, 865, 866, 869, 874, 1250, 1251, 1252, "
    "1253, 1254, 1256, 1257";

bool CodePageKnown(int code_page) {
  for (int page : CODE_PAGES)
    if (page == code_page) return true;
  return false;
}

int OpenNameCoding(int code_page, NameCoding* coding) {
  char name[16];
  snprintf(name, sizeof name, "CP%d", code_page);
  iconv_t to_utf8 = CodePageKnown(code_page) ? iconv_open("UTF-8", name) : (iconv_t)-1;
  if (to_utf8 == (iconv_t)-1) {
    MessagePrintf(FAILURE, "Names cannot be converted to or from code page %d here; nothing is done.", code_page);
    return 1;
  }
  coding->code_page = code_page;
  snprintf(coding->no_character, sizeof coding->no_character,
           "whose bytes shown as \\xNN have no character in code page %d", code_page);
  coding->length[0] = 0;  // the end of a name
  for (int byte = 1; byte < 256; ++byte) {
    char in = (char)byte;
    char* in_at = &in;
    size_t in_left = 1;
    char* out_at = (char*)coding->utf8[byte];
    size_t out_left = sizeof coding->utf8[byte];
    iconv(to_utf8, nullptr, nullptr, nullptr, nullptr);
    bool converted = iconv(to_utf8, &in_at, &in_left, &out_at, &out_left) != (size_t)-1 && in_left == 0;
    coding->length[byte] = converted ? (unsigned char)(sizeof coding->utf8[byte] - out_left) : 0;
  }
  iconv_close(to_utf8);
  return 0;
}

// The length of the UTF-8 character at text, or 0 when it is none.
static int CharacterLength(const unsigned char* text) {
  int length = text[0] < 0x80 ? 1 : text[0] >= 0xC2 && text[0] < 0xE0 ? 2 : text[0] >= 0xE0 && text[0] < 0xF0 ? 3
             : text[0] >= 0xF0 && text[0] < 0xF5 ? 4 : 0;
  for (int i = 1; i < length; ++i)
    if ((text[i] & 0xC0) != 0x80) return 0;
  return length;
}

// Why Windows could not hold name, in why, or null when it can.
static const char* WindowsNameFault(const char* name, char* why, int why_size) {
  for (const char* p = name; *p; ++p) {
    unsigned char c = (unsigned char)*p;
    if (c < 0x20) {
      snprintf(why, why_size, "Windows cannot hold a name with a control character (0x%02X)", c);
      return why;
    }
    if (strchr("\\/:*?\"<>|", c)) {
      snprintf(why, why_size, "Windows cannot hold a name with \"%c\"", c);
      return why;
    }
  }
  size_t length = strlen(name);
  if (length && (name[length - 1] == '.' || name[length - 1] == ' ')) {
    snprintf(why, why_size, "Windows drops the %s at the end of a name",
             name[length - 1] == '.' ? "dot" : "blank");
    return why;
  }
  // Before an extension, or alone, a device's name names the device.
  size_t stem = strcspn(name, ".");
  static const char* const devices[] = {"con", "prn", "aux", "nul", "com", "lpt"};
  for (int i = 0; i < 6; ++i) {
    bool numbered = i >= 4;
    if (stem != (numbered ? 4u : 3u)) continue;
    bool same = true;
    for (int j = 0; j < 3; ++j) same = same && LowerLetter(name[j]) == devices[i][j];
    if (same && (!numbered || (name[3] >= '1' && name[3] <= '9'))) {
      snprintf(why, why_size, "Windows keeps the name %.*s for a device", (int)stem, name);
      return why;
    }
  }
  return nullptr;
}

const char* NameToArchive(const NameCoding* coding, const char* name, char* stored, int size, char* why,
                          int why_size) {
  if (WindowsNameFault(name, why, why_size)) return nullptr;
  const unsigned char* p = (const unsigned char*)name;
  int used = 0;
  while (*p) {
    int length = CharacterLength(p);
    if (length == 0) {
      snprintf(why, why_size, "the name is not UTF-8 (byte 0x%02X)", *p);
      return nullptr;
    }
    int byte = length == 1 && coding->length[*p] == 1 && coding->utf8[*p][0] == *p ? *p : 1;
    while (byte < 256 && (coding->length[byte] != length || memcmp(coding->utf8[byte], p, length) != 0)) ++byte;
    if (byte == 256) {
      snprintf(why, why_size, "code page %d has no character for \"%.*s\"", coding->code_page, length,
               (const char*)p);
      return nullptr;
    }
    if (used + 1 >= size) {
      snprintf(why, why_size, "the name is too long");
      return nullptr;
    }
    stored[used++] = (char)byte;
    p += length;
  }
  stored[used] = '\0';
  return stored;
}

const char* NameFromArchive(const NameCoding* coding, const char* stored, char* name, int size,
                            const char** why) {
  int used = 0;
  *why = nullptr;
  for (const unsigned char* p = (const unsigned char*)stored; *p; ++p) {
    char shown[5];
    int length = coding->length[*p];
    const char* bytes = (const char*)coding->utf8[*p];
    if (length == 0) {
      *why = coding->no_character;
      length = snprintf(shown, sizeof shown, "\\x%02X", *p);
      bytes = shown;
    }
    if (used + length >= size) {
      *why = "too long for this system";
      break;
    }
    memcpy(name + used, bytes, length);
    used += length;
  }
  name[used] = '\0';
  return name;
}
