// File-system operations of the command-line build.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "fileutil/fsops.h"
#include "ui/messages.h"

int ReadCurrentDir(char* buffer, int size) {
  if (!getcwd(buffer, size)) return 0;
  return (int)strlen(buffer);
}

int EnterDirectory(const char* path) { return chdir(path) == 0 ? 0 : -1; }

int MakeDir(const char* path) { return mkdir(path, 0777) == 0 ? 0 : -1; }

int RemoveDir(const char* path) { return rmdir(path) == 0 ? 0 : -1; }

int DeleteFileNamed(const char* name) {
  // Like DeleteFileA: a read-only file is not deleted.
  struct stat info;
  if (lstat(name, &info) != 0) return -1;
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return -1;
  }
  if (!S_ISLNK(info.st_mode) && !(info.st_mode & S_IWUSR)) {
    errno = EACCES;
    return -1;
  }
  return unlink(name) == 0 ? 0 : -1;
}

int RenameFileNamed(const char* from, const char* to) {
  // Like MoveFileA: an existing destination is not replaced.
  if (access(to, F_OK) == 0) {
    errno = EEXIST;
    return -1;
  }
  return rename(from, to) == 0 ? 0 : -1;
}

int MakeWritable(const char* name) {
  struct stat info;
  if (stat(name, &info) != 0) return -1;
  return chmod(name, info.st_mode | S_IWUSR) == 0 ? 0 : -1;
}

int IsDirectoryLink(const char* name) {
  struct stat info;
  if (lstat(name, &info) != 0 || !S_ISLNK(info.st_mode)) return 0;
  return stat(name, &info) == 0 && S_ISDIR(info.st_mode);
}

int64_t OpenFileSize(FILE* file) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0) return -1;
  return (int64_t)info.st_size;
}

// There is no Windows directory here.
int ReadWindowsDir(char* buffer, int) {
  buffer[0] = '\0';
  return 0;
}

// Nor a system directory.
int SystemFilePath(const char*, char* buffer, int) {
  buffer[0] = '\0';
  return 0;
}

int WindowsFilePath(const char* name, char* buffer, int size) {
  return SystemFilePath(name, buffer, size);
}

int ReadTempDir(char* buffer, int size) {
  const char* dir = getenv("TMPDIR");
  if (!dir || !dir[0]) dir = "/tmp";
  size_t length = strlen(dir);
  int slash = dir[length - 1] != '/';
  if ((int)(length + slash) >= size) return 0;
  strcpy(buffer, dir);
  if (slash) strcat(buffer, "/");
  return (int)(length + slash);
}

void PauseMs(int milliseconds) {
  struct timespec delay = {milliseconds / 1000, (long)(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

void FileTimeCopy(FILE* destination, FILE* source) {
  struct stat info;
  if (fstat(fileno(source), &info) != 0) {
    ErrorPrintf("Error getting file time.\n");
    return;
  }
  struct timespec times[2] = {info.st_atim, info.st_mtim};
  if (futimens(fileno(destination), times) != 0) ErrorPrintf("Error setting file time.\n");
}

// There are no drive letters: every path lies on the one tree.
int ChangeDrive(char) { return 0; }

int IsForbiddenName(const char*) { return 0; }

FILE* OpenNullSink() { return fopen("/dev/null", "wb"); }
int HasDriveLetters() { return 0; }

FILE* OpenRegularFile(const char* name) {
  int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    errno = EINVAL;
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* file = fdopen(fd, "rb");
  if (!file) close(fd);
  return file;
}

int HoldDirectory(const char* path, HeldDirectory* held) {
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  held->handle = fd;
  if (fd >= 0) return 0;
  return errno == ELOOP || errno == ENOTDIR ? NOT_OWN_DIRECTORY : -1;
}

int HoldCurrentDirectory(HeldDirectory* held) {
  held->handle = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return held->handle >= 0 ? 0 : -1;
}

// Into what was opened: the name may lead elsewhere by now.
int EnterHeldDirectory(const HeldDirectory* held, const char*) {
  return fchdir((int)held->handle) == 0 ? 0 : -1;
}

int IsHeldCurrent(const HeldDirectory* held) {
  struct stat current, kept;
  return stat(".", &current) == 0 && fstat((int)held->handle, &kept) == 0 &&
         current.st_dev == kept.st_dev && current.st_ino == kept.st_ino;
}

void ReleaseDirectory(HeldDirectory* held) {
  if (held->handle >= 0) close((int)held->handle);
  held->handle = -1;
}

FILE* CreateNewFile(const char* name) {
  int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb");
  if (!file) close(fd);
  return file;
}

int EntryExists(const char* path) {
  struct stat info;
  return lstat(path, &info) == 0;
}
