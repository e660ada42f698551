// What the command-line build adds to the walk: the long options that shell
// users expect, the usage on standard output, relative paths from where the
// user stands, and no installation.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/entry.h"
#include "archive/archive.h"
#include "archive/names.h"
#include "base/text.h"
#include "ui/messages.h"

const WalkRules WALK_RULES = {true, " (see setup --help)"};

int ConfirmRemovingItself() {
  return MessagePrintf(QUESTION, "Delete this program, %s, once it has ended, and its folder %s if that is empty then?",
                        settings.module_file, settings.module_directory);
}

// The first value missing, by its name in the help.
void TellMissingValues(const Switch* entry, const char* argument, int given) {
  const char* missing = entry->arguments;
  for (int j = 0; j < given && strchr(missing, ' '); ++j) missing = strchr(missing, ' ') + 1;
  MessagePrintf(FAILURE, "%s %s: %.*s is missing%s.", argument, entry->arguments, (int)strcspn(missing, " "), missing,
                WALK_RULES.help_hint);
}

void ShowUsageText(const char* text) {
  fputs(text, stdout);
  fflush(stdout);
}

namespace {

// One line a switch of table: the switch and its values in a column, then
// what it does.
void ListSwitches(const Switch* table, const char* lead) {
  for (; table->name; ++table) {
    if (!table->help) continue;
    char left[40];
    snprintf(left, sizeof left, "%s%s %s", lead, table->name, table->arguments);
    printf("  %-18s%s\n", left, table->help);
  }
}

int Help(char**, int) {
  printf("Usage: setup [switch]... [action]\n"
         "The ZQ K9150 keyboard driver's setup program; on Linux, the tool that builds its\n"
         "installation medium. Switches begin with - or / in any case; one action a run,\n"
         "last on the line. Relative paths are taken from the current directory. Names\n"
         "in archives are in a Windows code page, 1252 unless --codepage says otherwise.\n\n");
  ListSwitches(SWITCHES, "-");
  ListSwitches(HOST_SWITCHES, "-");
  printf("\nExit codes: 0 done; 1 failed (or answered no); 2 not an archive; 3 a damaged\n"
         "archive; 4 members not written; 5 the archive could not be read; 255 a\n"
         "directory not made or entered; 128 and more: interrupted by a signal.\n");
  fflush(stdout);
  return 0;
}

int Version(char**, int) {
  printf("setup (ZQ K9150 Setup) %s\n", SETUP_VERSION);
  fflush(stdout);
  return 0;
}

int List(char** values, int) { return ListArchive(values[0]); }

bool StartsWith(const char* text, const char* lead) {
  for (; *lead; ++text, ++lead)
    if (LowerLetter(*text) != *lead) return false;
  return true;
}

// 1252, cp1252 or windows-1252.
int CodePage(char** values, int) {
  const char* text = values[0];
  static const char* const leads[] = {"cp", "windows-"};
  for (const char* lead : leads)
    if (StartsWith(text, lead)) text += strlen(lead);
  char* end;
  long number = strtol(text, &end, 10);
  if (*text < '0' || *text > '9' || *end || number > 99999 || !CodePageKnown((int)number)) {
    MessagePrintf(FAILURE, "Code page %s is not one for names in archives; these are: %s%s.", values[0],
                  SUPPORTED_CODE_PAGES, WALK_RULES.help_hint);
    return 1;
  }
  settings.code_page = (int)number;
  return WALK_ON;
}

int Test(char** values, int) { return TestArchive(values[0]); }

}  // namespace

const Switch HOST_SWITCHES[] = {
    {"h", 0, Help, 0, "", nullptr},
    {"-help", 0, Help, 0, "", "show this help (also -h)"},
    {"-version", 0, Version, 0, "", "show the version"},
    {"-list", 1, List, 0, "arch", "list the members of arch: packed size, size, path"},
    {"-test", 1, Test, 0, "arch", "read every member of arch, writing nothing"},
    {"-codepage", 1, CodePage, SWITCH_SETTING, "N", "the code page of names in archives (1252, 850, ...)"},
    {nullptr, 0, nullptr, 0, nullptr, nullptr},
};

void EnterProgramDirectory() {}

int RunWithoutAction() {
  MessagePrintf(NEWS, "The ZQ K9150 driver is installed on Windows. This build offers the tools "
                "that build the installation medium: -? lists them.");
  return 1;
}
