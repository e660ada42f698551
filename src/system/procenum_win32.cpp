// The process walk on Windows: PSAPI (and VDMDBG for the 16-bit tasks of a
// virtual DOS machine) on Windows NT, where from Vista on the kernel names the
// processes that PSAPI lists; ToolHelp on Windows 95/98. Every
// library is loaded at run time, so the program starts where one is missing
// (the walk then fails), and from the system directory by its full path:
// neither VDMDBG.DLL nor, before Windows 7, PSAPI.DLL is one that Windows
// always takes from there, and a copy beside the program would be loaded.
#include <windows.h>

#include <tlhelp32.h>

#include <cstring>

#include "base/text.h"
#include "os/fsops.h"
#include "os/windows_win32.h"
#include "system/library_win32.h"
#include "system/procenum.h"
#include "system/procenum_nt.h"

namespace {

typedef HANDLE(WINAPI* CreateSnapshotProc)(DWORD, DWORD);
typedef BOOL(WINAPI* ProcessWalkProc)(HANDLE, PROCESSENTRY32*);

struct HeapBlock {
  void* data = nullptr;
  ~HeapBlock() { Release(); }
  void Release() {
    if (data) HeapFree(GetProcessHeap(), 0, data);
    data = nullptr;
  }
};

struct TaskWalk {
  DWORD process_id;
  ProcessCallback callback;
  void* context;
  int stop;
};

BOOL WINAPI EnumTaskCallback(DWORD, WORD, WORD task16, PSZ, PSZ file_name, LPARAM context) {
  TaskWalk* walk = (TaskWalk*)context;
  if (!walk->callback(walk->process_id, task16, file_name, walk->context)) {
    walk->stop = 1;
    return TRUE;  // ends the task enumeration
  }
  return FALSE;
}

bool EndsInNtvdm(const char* name) {
  static const char NTVDM[] = "NTVDM.EXE";
  size_t length = strlen(name);
  if (length < 9) return false;
  for (size_t i = 0; i < 9; ++i) {
    char c = name[length - 9 + i];
    if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    if (c != NTVDM[i]) return false;
  }
  return true;
}

// The process's executable: by the kernel where it can tell, else the first
// module; empty when it cannot be read (other users' processes, the system's).
void ReadModuleName(DWORD process_id, const NtProcessInterface& api, char* name) {
  name[0] = '\0';
  HANDLE process = api.open_process(api.query_image_name ? PROCESS_QUERY_LIMITED_INFORMATION
                                                         : PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
                                    FALSE, process_id);
  if (!process) return;
  HMODULE module;
  DWORD size = PATH_SIZE;
  bool named = api.query_image_name
                   ? api.query_image_name(process, 0, name, &size) != 0
                   : api.enum_process_modules(process, &module, sizeof module, &size) &&
                         api.module_file_name(process, module, name, PATH_SIZE) != 0;
  if (!named) name[0] = '\0';
  name[PATH_SIZE - 1] = '\0';  // a cut name need not be terminated
  CloseHandle(process);
}

int WalkNt(ProcessCallback callback, void* context) {
  Library psapi("PSAPI.DLL");
  if (!psapi.handle) return -1;
  Library vdmdbg("VDMDBG.DLL");
  if (!vdmdbg.handle) return -1;
  NtProcessInterface api;
  api.enum_processes = (EnumProcessesProc)(void*)psapi.Find("EnumProcesses");
  api.enum_process_modules = (EnumProcessModulesProc)(void*)psapi.Find("EnumProcessModules");
  api.module_file_name = (GetModuleFileNameExProc)(void*)psapi.Find("GetModuleFileNameExA");
  api.enum_tasks = (VdmEnumTaskWowExProc)(void*)vdmdbg.Find("VDMEnumTaskWOWEx");
  // The kernel is loaded in every process: it is asked, not loaded.
  api.query_image_name = (QueryImageNameProc)(void*)GetProcAddress(
      GetModuleHandleA("KERNEL32.DLL"), "QueryFullProcessImageNameA");
  api.open_process = OpenProcess;
  if (!api.enum_processes || !api.enum_process_modules || !api.module_file_name ||
      !api.enum_tasks) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return -1;
  }
  return WalkNtProcesses(api, callback, context);
}

int WalkToolHelp(ProcessCallback callback, void* context) {
  Library kernel("Kernel32.DLL");
  if (!kernel.handle) return -1;
  CreateSnapshotProc create_snapshot =
      (CreateSnapshotProc)(void*)kernel.Find("CreateToolhelp32Snapshot");
  ProcessWalkProc first = (ProcessWalkProc)(void*)kernel.Find("Process32First");
  ProcessWalkProc next = (ProcessWalkProc)(void*)kernel.Find("Process32Next");
  if (!create_snapshot || !first || !next) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return -1;
  }
  HANDLE snapshot = create_snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  BOOL delivered = first(snapshot, &entry);
  while (delivered) {
    if (!callback(entry.th32ProcessID, 0, entry.szExeFile, context)) break;
    entry.dwSize = sizeof entry;
    delivered = next(snapshot, &entry);
  }
  CloseHandle(snapshot);
  return 0;
}

}  // namespace

int WalkNtProcesses(const NtProcessInterface& api, ProcessCallback callback, void* context) {
  // A full buffer may mean a cut list: fetch again with twice the room.
  HeapBlock ids;
  DWORD size = 1024;
  DWORD returned = 0;
  for (;;) {
    ids.data = HeapAlloc(GetProcessHeap(), 0, size);
    if (!ids.data) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return -1;
    }
    if (!api.enum_processes((DWORD*)ids.data, size, &returned)) return -1;
    if (returned != size) break;
    ids.Release();
    if (size > 0x40000000u) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return -1;
    }
    size *= 2;
  }

  const DWORD* list = (const DWORD*)ids.data;
  char name[PATH_SIZE];
  for (DWORD i = 0; i < returned / 4; ++i) {
    ReadModuleName(list[i], api, name);
    if (!callback(list[i], 0, name, context)) break;
    if (EndsInNtvdm(name)) {
      TaskWalk walk = {list[i], callback, context, 0};
      api.enum_tasks(list[i], EnumTaskCallback, (LPARAM)&walk);
      if (walk.stop) break;
    }
  }
  return 0;
}

int EnumerateProcesses(ProcessCallback callback, void* context) {
  // The fault hook reaches the walk as a listing.
  if (CallRefused(CALL_LIST)) return -1;
  return IsWindows95Family() ? WalkToolHelp(callback, context) : WalkNt(callback, context);
}
