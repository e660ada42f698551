"""The release setup.exe, read with mingw's objdump: a 32-bit GUI program
for subsystem 4.0, at most 72 KiB without its Authenticode signature (a
signed copy is checked as the unsigned one), that imports from the system's own DLLs
only functions listed below, each with the oldest Windows that exports it.
A new import fails until it is added here with its reason; a function that
Windows 95 lacks is looked up at run time instead. Its manifest, read with
wrestool, asks for elevation, names the systems from Vista to 11 and makes
it DPI-aware.

Usage: check_release.py setup.exe objdump wrestool"""

import os
import re
import subprocess
import sys
from xml.etree import ElementTree

MAX_SIZE = 72 * 1024
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
    ("KERNEL32.dll", "95", "CreateMutexA GetLocalTime",
     "one installation at a time; the time in the installation's log"),
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


# The manifest's elements, in their namespaces: elevation (level, uiAccess),
# the systems (Vista, 7, 8, 8.1, 10 and 11) and DPI awareness.
MANIFEST = [("{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel",
             "requireAdministrator false"),
            ("{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware", "true")] + [
    ("{urn:schemas-microsoft-com:compatibility.v1}supportedOS", "{%s}" % guid) for guid in (
        "e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a "
        "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 "
        "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a").split()]


def manifest_faults(exe, wrestool):
    data = subprocess.run([wrestool, "-x", "--raw", "--type=24", "--name=1", exe],
                          capture_output=True).stdout
    found = sorted((node.tag, node.text or " ".join(node.attrib.values()))
                   for node in ElementTree.fromstring(data or b"<none/>").iter()
                   if node.tag in dict(MANIFEST))
    return [] if found == sorted(MANIFEST) else ["the manifest says %r, not %r" % (found, MANIFEST)]


def main(exe, objdump, wrestool):
    allowed = {(dll.lower(), name): system for dll, system, names, _ in IMPORTS
               for name in names.split()}
    text = subprocess.run([objdump, "-p", exe], check=True, capture_output=True,
                          text=True).stdout
    headers = dict(re.findall(r"^(\w+)\s+(\S+)", text, re.M))
    # A signature is the certificate table at the file's end (data directory
    # entry 4): what was built is the file before it.
    signature = re.search(r"^Entry 4 ([0-9a-f]+) ([0-9a-f]+) Security Directory", text, re.M)
    size = int(signature.group(1), 16) if signature and int(signature.group(2), 16) else os.path.getsize(exe)
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
    faults += manifest_faults(exe, wrestool)
    print("%s: %d bytes%s, %d functions from %s" % (exe, size, " before its signature" if signature and
                                                   size != os.path.getsize(exe) else "", count, " ".join(dlls)))
    for fault in faults:
        print("FAULT: " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
