// What the command-line build adds to the walk: the long options that shell
// users expect, the usage on standard output, relative paths from where the
// user stands, and no installation.
#include <cstdio>
#include <cstring>

#include "archive/archive.h"
#include "driver/entry.h"
#include "ui/messages.h"

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
         "installation medium. Switches begin with - or / in any case; relative paths\n"
         "are taken from the current directory.\n\n");
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

int Test(char** values, int) { return TestArchive(values[0]); }

}  // namespace

const Switch HOST_SWITCHES[] = {
    {"h", 0, Help, false, "", nullptr},
    {"-help", 0, Help, false, "", "show this help (also -h)"},
    {"-version", 0, Version, false, "", "show the version"},
    {"-list", 1, List, false, "arch", "list the members of arch: packed size, size, path"},
    {"-test", 1, Test, false, "arch", "read every member of arch, writing nothing"},
    {nullptr, 0, nullptr, false, nullptr, nullptr},
};

void EnterProgramDirectory() {}

int RunWithoutAction() {
  MessagePrintf("The ZQ K9150 driver is installed on Windows. This build offers the tools "
                "that build the installation medium: -? lists them.");
  return 1;
}
