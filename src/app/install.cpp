// The installation sequence: bring the medium's files into the target
// directory, rejoin and unpack the package, run the vendor's setup, wait for
// its clean-up task to come and go, and remove the target directory.
#include "app/install.h"

#include <cstdio>
#include <cstring>

#include "app/installlog.h"
#include "archive/archive.h"
#include "archive/check.h"
#include "base/text.h"
#include "files/deltree.h"
#include "files/filecopy.h"
#include "files/output.h"
#include "media/floppy.h"
#include "media/profile.h"
#include "media/split.h"
#include "os/dirscan.h"
#include "os/fsops.h"
#include "os/longpath.h"
#include "os/platform.h"
#include "system/admin.h"
#include "system/procenum.h"
#include "system/process.h"
#include "system/selfremove.h"
#include "ui/messages.h"

namespace {

const int CLEANUP_ATTEMPTS = 30;
const char ARCHIVE[] = "ZQK9150.ZQA";
const char* const PIECES[] = {"ZQK9150.001", "ZQK9150.002", "ZQK9150.003"};
const char EXTRA_PIECE[] = "ZQK9150.004";
// Scanners and indexers hold new files for moments; removals wait them out.
const int IN_USE_PATIENCE_MS = 15000;

void SayCurrentDir() {
  char current[PATH_SIZE];
  if (ReadCurrentDir(current, PATH_SIZE) == 0) MessagePrintf(VERBOSE, "Current dir: %s", current);
}

// Files copied from floppies are read-only; they must be moved and deleted.
// One that stays so is named where its deletion fails.
int MakeEntryWritable(const DirEntry& entry, void* context) {
  if (!(entry.attributes & ATTR_READONLY)) return 0;
  MessagePrintf(VERBOSE, "Changing %s attributes to R/W", entry.name);
  MakeWritableAt(static_cast<const Directory*>(context), entry.name);
  return StopRequested() ? 1 : 0;
}

// 0, or 1 after a message.
int ClearReadOnlyFiles() {
  Directory here;
  if (OpenDirectory(".", &here) != 0) return 0;  // the rejoin then names what fails
  int listed = ForEachEntry(&here, MASK_FILES, MakeEntryWritable, &here);
  if (listed < 0) ReportFailure("Cannot list directory %s.", here.name);
  CloseDirectory(&here);
  return listed < 0 ? 1 : 0;
}

// One look at the process list: 0, or 1 after a message. A list that
// cannot be read tells nothing, least of all that the task is not running.
int LookForCleanupTask(int* found) {
  *found = 0;
  if (EnumerateProcesses(CleanupTaskCallback, found) == 0) return 0;
  ReportFailure("Cannot list the running processes to look for %s.", "_ISDEL.EXE");
  return 1;
}

// Polls the process list once a second, at most 30 times, until the clean-up
// task is seen; then until it is gone. 0, or 1 when it never came or the
// list could not be read.
int WaitForCleanupTask() {
  int found = 0;
  for (int attempts = 0; attempts < CLEANUP_ATTEMPTS && !found && !StopRequested(); ++attempts) {
    PauseMs(1000);
    if (LookForCleanupTask(&found) != 0) return 1;
  }
  if (!found) {
    MessagePrintf(FAILURE, "Install Shield did not start.");
    return 1;
  }
  while (found && !StopRequested()) {
    PauseMs(1000);
    if (LookForCleanupTask(&found) != 0) return 1;
  }
  return 0;
}

// A target directory left from before (by an aborted run, or made by someone
// else, who may have put anything there) goes before the medium comes in.
// 0, or 1 after a message that names it.
int RemoveOldTarget(const char* target) {
  int removed = DeleteTreeKeeping(target, nullptr, IN_USE_PATIENCE_MS);
  if (removed == 0 || (removed == 1 && !EntryExistsAt(nullptr, target))) return 0;
  MessagePrintf(FAILURE, "The target directory %s is there from before and cannot be removed; nothing "
                "was installed.",
                target);
  return 1;
}

// Makes the target directory current, only when it is a real directory, not
// a link or a junction: 0, or 1 after a message that names it.
int EnterTarget(const char* target) {
  Directory held;
  int hold = OpenOwnDirectory(target, &held);
  if (hold != 0 && LastSystemError() == ERROR_NOT_OWN_DIRECTORY) {
    MessagePrintf(FAILURE, "The target directory %s is a link or not a directory; nothing was installed.", target);
    return 1;
  }
  // Everything below works on the current directory: it must be the target.
  Directory current;
  bool entered = hold == 0 && ChangeDrive(target[0]) == 0 && EnterDirectory(target + 2) == 0 &&
                 OpenDirectory(".", &current) == 0;
  int code = LastSystemError();
  if (entered) {
    entered = SameTextIgnoringCase(current.name, target);
    code = ERROR_FILE_CHANGED;  // another directory took its place
    CloseDirectory(&current);
  }
  if (hold == 0) CloseDirectory(&held);  // being current keeps it in place now
  if (entered) return 0;
  SetSystemError(code);
  ReportFailure("Cannot enter the target directory %s.", target);
  return 1;
}

// One installation: the target directory, whether the program runs from
// there, and the step at work, which the log names as it begins and ends.
struct Installation {
  char target[PATH_SIZE];
  bool self_removal;
  const char* step;
};

// The log says "Done" or, after the messages that said why, "Failed".
void End(Installation* run, bool done) {
  if (run->step) LogPrintf(done ? "Done: %s." : "Failed: %s.", run->step);
  run->step = nullptr;
}

void Begin(Installation* run, const char* step) {
  End(run, true);
  run->step = step;
  LogPrintf("Step: %s.", step);
}

// Removes the target directory, all but the running program when it runs
// from there, which self-removal takes once the process has ended: 0, or 1.
int RemoveTarget(Installation* run) {
  Begin(run, "removing the target directory");
  // The current directory cannot be removed.
  if (EnterDirectory("\\") != 0) {
    ReportFailure("Cannot leave the target directory %s for the root of its drive.", run->target);
    return 1;
  }
  if (DeleteTreeKeeping(run->target, run->self_removal ? BaseName(settings.module_file) : nullptr,
                        IN_USE_PATIENCE_MS) != 0)
    return 1;
  if (run->self_removal && RemoveSelf() != 0) {
    ReportFailure("Cannot arrange the removal of %s once it has ended.", settings.module_file);
    return 1;
  }
  return 0;
}

// Ends a failed installation: names the step, takes the target away and
// ends with 1.
int Abandon(Installation* run) {
  MessagePrintf(FAILURE, "The installation stopped: %s failed; what it had copied is removed.", run->step);
  End(run, false);
  End(run, RemoveTarget(run) == 0);
  return 1;
}

// Copies InstallShield's setup.log into the log and reads its result: 0
// for a ResultCode of 0 or above, else 1 after a message.
int CheckSetupResult(const char* path) {
  char text[COPY_BUFFER_SIZE];
  FileHolder file;
  size_t length = 0, got = 1;
  int read = OpenFileAt(nullptr, path, ACCESS_READ, &file.file);
  while (read == 0 && got > 0 && length < sizeof text - 1) {
    read = ReadFromFile(file.file, text + length, sizeof text - 1 - length, &got);
    length += got;
  }
  // The profile reader would look for a relative name in the Windows directory.
  char full[PATH_SIZE];
  if (read != 0 || AbsolutePath(path, full, PATH_SIZE) != 0) {
    ReportFailure("Cannot read InstallShield's setup.log %s.", path);
    return 1;
  }
  text[length] = '\0';
  LogText("InstallShield's setup.log: ", text);
  char value[16];
  ReadProfileString("ResponseResult", "ResultCode", "", value, sizeof value, full);
  const char* digits = value + (value[0] == '-');
  const char* c = digits;
  unsigned code = 0;
  while (*c >= '0' && *c <= '9') code = code * 10 + (unsigned)(*c++ - '0');
  if (c == digits || *c) {
    MessagePrintf(FAILURE, "InstallShield's setup.log %s holds no ResultCode.", path);
    return 1;
  }
  if (digits == value || code == 0) return 0;
  MessagePrintf(FAILURE, "InstallShield's setup reported failure (ResultCode -%u).", code);
  return 1;
}

int Install(Installation* run) {
  const char* target = run->target;
  Begin(run, "checking administrator rights");
  if (!IsAdministrator()) {
    MessagePrintf(FAILURE, "You do NOT have administrator rights.\nPlease log on as an administrator to "
                  "set up this application.\n");
    return 1;
  }
  SayCurrentDir();
  if (!target[0]) {
    MessagePrintf(FAILURE, "The Windows directory is too long for the target directory.");
    return 1;
  }
  MessagePrintf(VERBOSE, "Target directory is %s", target);

  if (StopRequested()) return 1;
  run->self_removal = SameTextIgnoringCase(settings.module_directory, target);
  if (!run->self_removal) {
    Begin(run, "removing what an earlier run left");
    if (RemoveOldTarget(target) != 0) return 1;
    Begin(run, "installing ZQK9150.INF");
    MessagePrintf(VERBOSE, "About to run ZQK9150.INF");
    if (InstallInfSection(".\\ZQK9150.INF", "SetupInstall", settings.show_command) != 0) {
      // What the setup engine copied, if anything, goes again.
      if (EntryExistsAt(nullptr, target)) return Abandon(run);
      return 1;
    }
    if (StopRequested()) return Abandon(run);
  }
  Begin(run, "entering the target directory");
  if (EnterTarget(target) != 0) return Abandon(run);
  SayCurrentDir();
  Begin(run, "rejoining the package's pieces");
  if (ClearReadOnlyFiles() != 0 || RejoinPieces() != 0) return Abandon(run);
  Begin(run, "unpacking the package");
  if (ExtractArchiveInto(ARCHIVE, "IS") != 0 || StopRequested()) return Abandon(run);

  Begin(run, "starting InstallShield's setup");
  char command[PATH_SIZE];
  static const char SETUP_TAIL[] = "\\is\\setup.exe";
  if (strlen(target) + strlen(SETUP_TAIL) + strlen(settings.setup_arguments) >= sizeof command) {
    MessagePrintf(FAILURE, "The command line of %s%s with its arguments would be longer than %d "
                  "characters; setup is not started.",
                  target, SETUP_TAIL, PATH_SIZE - 1);
    return Abandon(run);
  }
  strcpy(command, target);
  strcat(command, SETUP_TAIL);
  char program[PATH_SIZE];
  strcpy(program, command);  // named apart, so that nothing is searched for
  strcat(command, settings.setup_arguments);
  // In a silent run InstallShield's setup tells its result only in its
  // setup.log; one from before would tell another run's.
  char setup_log[PATH_SIZE];
  bool silent_setup = SetupLogPath(settings.setup_arguments, program, setup_log, PATH_SIZE);
  if (silent_setup && EntryExistsAt(nullptr, setup_log) && DeleteEntryAt(nullptr, setup_log) != 0) {
    ReportFailure("Cannot delete %s.", setup_log);
    return Abandon(run);
  }
  if (RunAndWait(program, command, settings.show_command) != 0) {
    // The arguments stand twice, as the message has always had them.
    char run_line[2 * PATH_SIZE];
    snprintf(run_line, sizeof run_line, "%s %s", command, settings.setup_arguments);
    ReportFailure("Failed to run \"%s\"", run_line);
    return Abandon(run);
  }
  Begin(run, "waiting for InstallShield's clean-up task");
  if (WaitForCleanupTask() != 0 || StopRequested()) {
    if (silent_setup && EntryExistsAt(nullptr, setup_log)) CheckSetupResult(setup_log);
    return Abandon(run);
  }
  MessagePrintf(VERBOSE, "Install Shield setup _ISDEL daughter task complete.\nAbout to cleanup all "
                  "setup files.");
  if (silent_setup) {
    Begin(run, "checking InstallShield's setup.log");
    if (CheckSetupResult(setup_log) != 0) return Abandon(run);
  }
  return RemoveTarget(run);
}

}  // namespace

int SetupLogPath(const char* arguments, const char* default_path, char* path, int size) {
  bool silent = false;
  const char* named[2] = {nullptr, nullptr};  // by -f1 (the response file) and -f2
  // Each argument is led by a blank.
  for (const char* p = arguments; *p; ++p) {
    if (p[0] != ' ' || (p[1] != '-' && p[1] != '/')) continue;
    char option = LowerLetter(p[2]);
    if (option == 's' && (p[3] == ' ' || !p[3])) silent = true;
    if (option == 'f' && (p[3] == '1' || p[3] == '2') && p[4] > ' ') named[p[3] - '1'] = p + 4;
  }
  if (!silent) return 0;
  // Beside the response file, unless -f2 names it.
  const char* from = named[1] ? named[1] : named[0] ? named[0] : default_path;
  int length = 0;
  for (bool quoted = false; *from && (quoted || *from != ' ') && length < size - 10; ++from) {
    if (*from == '"') quoted = !quoted;
    else path[length++] = *from;
  }
  path[length] = '\0';
  if (!named[1]) strcpy((char*)BaseName(path), "setup.log");
  return 1;
}

int CleanupTaskCallback(unsigned long, unsigned short, const char* module_name, void* context) {
  if (module_name && module_name[0] && strcmp(BaseName(module_name), "_ISDEL.EXE") == 0) *(int*)context = 1;
  return 1;
}

namespace {

// A piece of the package: where its bytes lie in the joined archive.
struct Piece {
  const char* name;
  int64_t start;
  int64_t end;
  bool damaged;
};

// Appends the piece to the open archive: 0, or 1 after the append's error
// report. Its place in the archive follows the pieces before it.
int AppendPiece(FileHandle archive, Piece* piece, int64_t start, unsigned char* buffer) {
  FileHolder from;
  int result = OpenFileAt(nullptr, piece->name, ACCESS_READ, &from.file) == 0 ? 0 : 1;
  int64_t length = -1;
  if (result == 0 && SizeOfFile(from.file, &length) != 0) result = 1;
  if (result == 0) result = CopyBlocks(from.file, archive, length, buffer);
  if (result == 1) ReportFailure("\nAppend: Error reading from file %s.\n", piece->name, CODE_FIRST);
  if (result == 2) ReportFailure("\nAppend: Error writing to file %s.\n", ARCHIVE, CODE_FIRST);
  piece->start = start;
  piece->end = start + length;
  return result == 0 ? 0 : 1;
}

void MarkDamage(void* context, int64_t from, int64_t size, uint32_t) {
  Piece* pieces = static_cast<Piece*>(context);
  for (int i = 0; i < 3; i++)
    if (pieces[i].start < from + size && from < pieces[i].end) pieces[i].damaged = true;
}

// Names the damaged pieces, each with its disk where the INF file beside
// the program tells it: "disk 2 (ZQK9150.002)".
void TellDamage(const Piece* pieces) {
  char inf[PATH_SIZE + 16];
  snprintf(inf, sizeof inf, "%s%c%s", settings.module_directory, PATH_SEPARATOR, "ZQK9150.INF");
  char where[3 * 40] = "";
  for (int i = 0; i < 3; i++) {
    if (!pieces[i].damaged) continue;
    char value[64], item[40];
    ReadProfileString("SourceDisksFiles", pieces[i].name, "", value, sizeof value, inf);
    int disk = DiskNumber(value);
    snprintf(item, sizeof item, disk > 0 ? "%sdisk %d (%s)" : "%spiece %.0d%s", where[0] ? " or " : "", disk,
             pieces[i].name);
    strcat(where, item);
  }
  MessagePrintf(FAILURE, "The package on %s is damaged. Copy the medium again.", where);
}

// Compares the joined archive (the file path) with its check record, so
// that damage is told by the pieces that hold it: 0 sound or without a
// record (unpacking then tells), or 1 after a message.
int CheckJoined(const char* path, Piece* pieces, unsigned char* buffer) {
  FileHolder joined;
  CheckRecord record = {};
  int64_t size = pieces[2].end;
  int found = OpenFileAt(nullptr, path, ACCESS_READ, &joined.file) == 0
                  ? FindCheckRecord(joined.file, size, &record)
                  : CHECK_READ_FAILED;
  int64_t bad = found == CHECK_BROKEN || found == CHECK_WRONG_LENGTH;
  // A piece cut short, or grown, is one after the first that is not whole,
  // or a first one not of the length the record asks.
  for (int i = 0; bad && i < 3; i++) {
    int64_t length = pieces[i].end - pieces[i].start;
    if (i ? length != PIECE_SIZE : found == CHECK_WRONG_LENGTH && length != record.start + record.length - 2 * PIECE_SIZE)
      pieces[i].damaged = true;
  }
  // Else what is broken is the record, at the end.
  if (bad && !pieces[0].damaged && !pieces[1].damaged && !pieces[2].damaged) MarkDamage(pieces, size - 12, 12, 0);
  if (found == CHECK_FOUND) bad = VerifyBlocks(joined.file, &record, buffer, COPY_BUFFER_SIZE, MarkDamage, pieces);
  FreeCheckRecord(&record);
  if (found == CHECK_READ_FAILED || bad < 0) {
    ReportFailure("Cannot read %s.", ARCHIVE);
    return 1;
  }
  if (found == CHECK_NO_MEMORY) {
    OutOfMemory("the package's check record");
    return 1;
  }
  if (bad == 0) return 0;
  TellDamage(pieces);
  return 1;
}

}  // namespace

int RejoinPieces() {
  if (!EntryExistsAt(nullptr, PIECES[0])) return 0;
  // A fourth piece means a longer package: joined from three, it would be cut.
  if (EntryExistsAt(nullptr, EXTRA_PIECE)) {
    MessagePrintf(FAILURE, "The package has more pieces than three (%s is there); it cannot be rejoined.",
                  EXTRA_PIECE);
    return 1;
  }
  // The archive appears under its name only once it is whole and matches
  // its check; the pieces go only then.
  StatusWindow window = StatusPrintf(nullptr, "Copying files...");
  OutputFile archive;
  int result = 0;
  if (CreateOutput(ARCHIVE, &archive) != 0) {
    ReportFailure("Cannot create %s.", ARCHIVE);
    result = 1;
  }
  unsigned char buffer[COPY_BUFFER_SIZE];
  Piece pieces[3] = {{PIECES[0], 0, 0, false}, {PIECES[1], 0, 0, false}, {PIECES[2], 0, 0, false}};
  for (int i = 0; i < 3 && result == 0; i++) result = AppendPiece(archive.file, &pieces[i], i ? pieces[i - 1].end : 0, buffer);
  if (result == 0) result = CheckJoined(archive.temporary, pieces, buffer);
  if (result == 0 && !StopRequested() && CommitOutput(&archive) != 0) {
    ReportFailure("Cannot write %s.", ARCHIVE);
    result = 1;
  } else if (result != 0 || StopRequested()) {
    AbandonOutput(&archive);
    result = 1;
  }
  for (int i = 0; i < 3 && result == 0; i++) {
    if (DeleteEntryAt(nullptr, PIECES[i]) != 0) {
      ReportFailure("Cannot delete %s.", PIECES[i]);
      result = 1;
    }
  }
  StatusClose(&window);
  return result;
}

int RunInstallation(bool another_running) {
  Installation run;  // its target is filled below
  run.self_removal = false;
  run.step = nullptr;
  char log_path[PATH_SIZE];
  log_path[0] = '\0';
  // The log lies beside the target directory.
  static const char LOG_TAIL[] = "\\temp\\ZQK9150.LOG";
  int windows_length = ReadWindowsDir(run.target, PATH_SIZE) == 0 ? (int)strlen(run.target) : 0;
  if (windows_length == 0 || windows_length + sizeof LOG_TAIL > sizeof run.target) {
    run.target[0] = '\0';
  } else {
    strcpy(log_path, strcat(run.target, LOG_TAIL));
    run.target[windows_length + sizeof LOG_TAIL - 5] = '\0';
  }
  InstallLog log;
  OpenInstallLog(&log, settings.log_file ? settings.log_file : log_path, !another_running);
  LocalTime now;
  ReadLocalTime(&now);
  LogPrintf("ZQ K9150 Setup " SETUP_VERSION ", installation of %04d-%02d-%02d:\n%s %s", now.year, now.month,
            now.day, settings.module_file, settings.command_line);
  int code = 1;
  if (another_running)
    MessagePrintf(FAILURE, "Another installation of the ZQ K9150 driver is running.");
  else
    code = Install(&run);
  End(&run, code == 0);
  LogPrintf("Exit code: %d", code);
  CloseInstallLog(&log);
  return code;
}
