"""The release setup.exe, read with mingw's objdump: a 32-bit GUI program
for subsystem 4.0, at most 64 KiB, that imports from the system's own DLLs
only functions listed below, each with the oldest Windows that exports it.
A new import fails until it is added here with its reason; a function that
Windows 95 lacks is looked up at run time instead.

Usage: check_release.py setup.exe objdump"""

import os
import re
import subprocess
import sys

MAX_SIZE = 64 * 1024
# What the program may rely on: Windows 95, and msvcrt.dll as NT 4.0 (4.20)
# and Windows 98 ship it; Windows 95 gets it with the runtime's installer.
BASELINE = ("95", "msvcrt 4.20")

# (DLL, oldest Windows, functions, what for)
IMPORTS = [
    ("KERNEL32.dll", "95", "GetCommandLineA GetModuleHandleA GetStartupInfoA GetModuleFileNameA",
     "the entry and the module file"),
    ("KERNEL32.dll", "95", "CreateFileA WriteFile CloseHandle DeleteFileA MoveFileA GetFileSize "
     "GetFileAttributesA SetFileAttributesA GetFileTime SetFileTime RemoveDirectoryA "
     "FindFirstFileA FindNextFileA FindClose FileTimeToLocalFileTime FileTimeToDosDateTime "
     "GetFileInformationByHandle CreateDirectoryA ReadFile SetFilePointer GetFileType",
     "files and directories (GetFileSize: 95 has no GetFileSizeEx); an entry held open is "
     "checked to be the one that was named"),
    ("KERNEL32.dll", "95", "GetCurrentDirectoryA SetCurrentDirectoryA GetFullPathNameA "
     "GetShortPathNameA GetWindowsDirectoryA GetSystemDirectoryA GetTempPathA "
     "GetPrivateProfileStringA GetDiskFreeSpaceA", "paths, the INF file, the room on a floppy"),
    ("KERNEL32.dll", "95", "CreateProcessA WaitForSingleObject ResumeThread SetThreadPriority "
     "SetPriorityClass GetCurrentProcess GetCurrentThread OpenProcess Sleep GetTickCount",
     "starting programs, self-removal, the clean-up task's wait"),
    ("KERNEL32.dll", "95", "CreateThread GetSystemInfo InitializeCriticalSection EnterCriticalSection "
     "LeaveCriticalSection DeleteCriticalSection CreateSemaphoreA ReleaseSemaphore",
     "packing on every processor: threads, locks and conditions built of semaphores"),
    ("KERNEL32.dll", "95", "GetVersion GetVersionExA LoadLibraryA GetProcAddress FreeLibrary "
     "GetProcessHeap HeapAlloc HeapFree GetLastError SetLastError FormatMessageA",
     "the process walk's libraries, looked up at run time; error codes"),
    ("USER32.dll", "95", "MessageBoxA wvsprintfA LoadCursorA RegisterClassA CreateWindowExA "
     "ShowWindow UpdateWindow SendMessageA InvalidateRect BeginPaint EndPaint DefWindowProcA "
     "DestroyWindow", "message boxes and the status window"),
    ("GDI32.dll", "95", "CreateBrushIndirect SetBkColor GetTextMetricsA TextOutA",
     "painting the status window"),
    ("msvcrt.dll", "msvcrt 4.20", "exit malloc realloc free printf puts _vsnprintf fopen fclose fread fwrite "
     "fgetc fputc fseek fgetpos fsetpos fflush ferror setvbuf _filbuf _flsbuf _fileno _get_osfhandle "
     "_open_osfhandle _fdopen _close",
     "the C runtime's streams, also over a file created exclusively by handle; fgetpos and "
     "fsetpos give 64-bit offsets (no _ftelli64 or _fseeki64 before XP)"),
    ("msvcrt.dll", "msvcrt 4.20", "_getcwd _chdir _chdrive _mkdir _rmdir memcmp memmove strcat "
     "strchr strcmp strcpy strlen strncmp strncpy strpbrk strrchr", "directories and texts"),
]


def main(exe, objdump):
    allowed = {(dll.lower(), name): system for dll, system, names, _ in IMPORTS
               for name in names.split()}
    text = subprocess.run([objdump, "-p", exe], check=True, capture_output=True,
                          text=True).stdout
    headers = dict(re.findall(r"^(\w+)\s+(\S+)", text, re.M))
    size = os.path.getsize(exe)
    faults = ["%s is %s, not %s" % fault for fault in (
        ("the format", re.search(r"file format (\S+)", text).group(1), "pei-i386"),
        ("the subsystem", headers.get("Subsystem"), "00000002"),
        ("the subsystem version", "%s.%s" % (headers.get("MajorSubsystemVersion"),
                                             headers.get("MinorSubsystemVersion")), "4.0"))
        if fault[1] != fault[2]]
    if size > MAX_SIZE:
        faults.append("the size is %d bytes, more than %d" % (size, MAX_SIZE))
    dlls, count = [], 0
    for block in text.split("DLL Name: ")[1:]:
        dll = block.split()[0]
        dlls.append(dll.upper())
        for name in re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\S+)$", block.split("\n\n")[0], re.M):
            count += 1
            system = allowed.get((dll.lower(), name))
            if system is None:
                faults.append("%s imports %s, which is not in the list" % (dll, name))
            elif system not in BASELINE:
                faults.append("%s of %s needs Windows %s: look it up at run time" %
                              (name, dll, system))
    if sorted(dlls) != ["GDI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL"]:
        faults.append("the DLLs are %s" % " ".join(dlls))
    print("%s: %d bytes, %d functions from %s" % (exe, size, count, " ".join(dlls)))
    for fault in faults:
        print("FAULT: " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
