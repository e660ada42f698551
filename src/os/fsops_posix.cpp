// File-system operations of the command-line build, on file descriptors:
// below a held directory every name is opened relative to its descriptor and
// without following a link, so the check and the use are one step.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "os/fsops.h"
#include "os/longpath.h"
#include "os/memory.h"

FaultHook fault_hook = nullptr;
const char PATH_SEPARATOR = '/';

bool CallRefused(int call) {
  int answer = fault_hook ? fault_hook(call) : 0;
  if (!answer) return false;
  errno = answer > 1 ? answer : call == CALL_ALLOCATE ? ENOMEM : EIO;
  return true;
}

namespace {

int Where(const Directory* dir) { return dir ? (int)dir->handle : AT_FDCWD; }

int Result(int status) { return status == 0 ? 0 : -1; }

// A directory that could not be opened; with own, a link or something not
// a directory there is told as such.
int Refused(bool own) {
  if (own && (errno == ELOOP || errno == ENOTDIR)) errno = ERROR_NOT_OWN_DIRECTORY;
  return -1;
}

int Hold(int fd, const Directory* parent, const char* name, Directory* dir) {
  dir->handle = fd;
  dir->parent = parent;
  if (strlen(name) >= sizeof dir->name) {
    close(fd);
    dir->handle = -1;
    errno = ENAMETOOLONG;
    return -1;
  }
  strcpy(dir->name, name);
  return 0;
}

int OpenTop(const char* path, Directory* dir, int flags) {
  dir->handle = -1;
  char full[PATH_SIZE];
  if (AbsolutePath(path, full, PATH_SIZE) != 0) return -1;
  if (CallRefused(CALL_OPEN)) return -1;
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | flags);
  if (fd < 0) return Refused((flags & O_NOFOLLOW) != 0);
  return Hold(fd, nullptr, full, dir);
}

}  // namespace

int OpenDirectory(const char* path, Directory* dir) { return OpenTop(path, dir, 0); }

int OpenOwnDirectory(const char* path, Directory* dir) { return OpenTop(path, dir, O_NOFOLLOW); }

int OpenSubdirectory(const Directory* parent, const char* name, Directory* dir) {
  dir->handle = -1;
  if (CallRefused(CALL_OPEN)) return -1;
  int fd = openat(Where(parent), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Refused(true);
  return Hold(fd, parent, name, dir);
}

void CloseDirectory(Directory* dir) {
  if (dir->handle >= 0) close((int)dir->handle);
  dir->handle = -1;
}

int MakeDirectoryAt(const Directory* dir, const char* name) {
  if (CallRefused(CALL_MAKE_DIRECTORY)) return -1;
  return Result(mkdirat(Where(dir), name, 0777));
}

int RemoveDirectoryAt(const Directory* dir, const char* name) {
  if (CallRefused(CALL_REMOVE_DIRECTORY)) return -1;
  return Result(unlinkat(Where(dir), name, AT_REMOVEDIR));
}

namespace {

// 0 for a file that is not read-only or a link, as Windows would remove or
// replace it, or for nothing there where absent is fine; -1 otherwise.
int Removable(const Directory* dir, const char* name, bool absent) {
  struct stat info;
  if (fstatat(Where(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0) return absent && errno == ENOENT ? 0 : -1;
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return -1;
  }
  if (!S_ISLNK(info.st_mode) && !(info.st_mode & S_IWUSR)) {
    errno = EACCES;
    return -1;
  }
  return 0;
}

}  // namespace

int DeleteEntryAt(const Directory* dir, const char* name) {
  // Like DeleteFileA: a read-only file is not deleted.
  if (Removable(dir, name, false) != 0 || CallRefused(CALL_DELETE)) return -1;
  return Result(unlinkat(Where(dir), name, 0));
}

int CanReplaceAt(const Directory* dir, const char* name) { return Removable(dir, name, true); }

int NameTooLongCode() { return ENAMETOOLONG; }

// Open files can be deleted here; only a mount point or a busy device says so.
bool IsInUseCode(int code) { return code == EBUSY; }

int RenameEntryAt(const Directory* dir, const char* from, const char* to, bool replace) {
  if (CallRefused(CALL_RENAME)) return -1;
  int at = Where(dir);
  if (replace) {
    // Nothing there is the common case: one call.
    if (renameat2(at, from, at, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EEXIST && errno != EINVAL && errno != ENOSYS) return -1;
    if (CanReplaceAt(dir, to) != 0) return -1;
    return Result(renameat(at, from, at, to));
  }
  if (renameat2(at, from, at, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system without the exclusive rename.
  if (EntryExistsAt(dir, to)) {
    errno = EEXIST;
    return -1;
  }
  return Result(renameat(at, from, at, to));
}

int MakeWritableAt(const Directory* dir, const char* name) {
  struct stat info;
  if (fstatat(Where(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  if (S_ISLNK(info.st_mode)) {
    errno = ELOOP;  // what a link leads to is not ours to change
    return -1;
  }
  return Result(fchmodat(Where(dir), name, info.st_mode | S_IWUSR, 0));
}

bool EntryExistsAt(const Directory* dir, const char* name) {
  struct stat info;
  return fstatat(Where(dir), name, &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool IsForbiddenName(const char*) { return false; }

int OpenFileAt(const Directory* dir, const char* name, int access, FileHandle* file) {
  file->value = NO_FILE;
  if (CallRefused(CALL_OPEN)) return -1;
  static const int flags[] = {
      O_RDONLY | O_NONBLOCK,
      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW,
      O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW,
      O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW,
      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND,
  };
  int fd = openat(Where(dir), name, flags[access] | O_CLOEXEC, 0666);
  if (fd < 0) {
    struct stat info;
    if (access == ACCESS_READ && errno == ENOENT && fstatat(Where(dir), name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(info.st_mode))
      errno = ERROR_BROKEN_LINK;
    return -1;
  }
  if (access == ACCESS_READ) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      int code = S_ISDIR(info.st_mode) ? EISDIR : ERROR_NOT_REGULAR_FILE;
      close(fd);
      errno = code;
      return -1;
    }
    // O_NONBLOCK, which kept a FIFO from blocking the open, changes nothing
    // for a regular file: it stays.
  }
  file->value = fd;
  return 0;
}

int ReadFromFile(FileHandle file, void* buffer, size_t size, size_t* got) {
  *got = 0;
  if (CallRefused(CALL_READ)) return -1;
  ssize_t read_now;
  do {
    read_now = read((int)file.value, buffer, size);
  } while (read_now < 0 && errno == EINTR);
  if (read_now < 0) return -1;
  *got = (size_t)read_now;
  return 0;
}

int ReadFileAt(FileHandle file, int64_t offset, void* buffer, size_t size, size_t* got) {
  *got = 0;
  if (CallRefused(CALL_READ)) return -1;
  ssize_t read;
  do {
    read = pread((int)file.value, buffer, size, (off_t)offset);
  } while (read < 0 && errno == EINTR);
  if (read < 0) return -1;
  *got = (size_t)read;
  return 0;
}

int WriteToFile(FileHandle file, const void* bytes, size_t size) {
  const char* next = static_cast<const char*>(bytes);
  while (size > 0) {
    if (CallRefused(CALL_WRITE)) return -1;
    ssize_t written = write((int)file.value, next, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return -1;
    }
    next += written;
    size -= (size_t)written;
  }
  return 0;
}

int SeekInFile(FileHandle file, int64_t offset) {
  if (CallRefused(CALL_SEEK)) return -1;
  return lseek((int)file.value, (off_t)offset, SEEK_SET) < 0 ? -1 : 0;
}

int SizeOfFile(FileHandle file, int64_t* size) {
  struct stat info;
  if (fstat((int)file.value, &info) != 0) return -1;
  *size = (int64_t)info.st_size;
  return 0;
}

int CloseFileHandle(FileHandle* file) {
  if (file->value == NO_FILE) return 0;
  int fd = (int)file->value;
  file->value = NO_FILE;
  if (CallRefused(CALL_CLOSE)) {
    close(fd);
    errno = EIO;
    return -1;
  }
  return Result(close(fd));
}

int CopyFileTimes(FileHandle source, FileHandle destination) {
  struct stat info;
  if (fstat((int)source.value, &info) != 0) return -1;
  struct timespec times[2] = {info.st_atim, info.st_mtim};
  return Result(futimens((int)destination.value, times));
}

int IdentifyFile(FileHandle file, FileIdentity* identity) {
  if (CallRefused(CALL_IDENTIFY)) return -1;
  struct stat info;
  if (fstat((int)file.value, &info) != 0) return -1;
  identity->device = (uint64_t)info.st_dev;
  identity->index = (uint64_t)info.st_ino;
  identity->links = (uint32_t)info.st_nlink;
  return 0;
}

