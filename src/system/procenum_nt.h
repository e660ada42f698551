// Windows build only: the NT road of the process walk with its library entry
// points handed in, so that the walk can also run against stand-ins.
#pragma once

#include <windows.h>

#include "system/procenum.h"

typedef BOOL(WINAPI* EnumProcessesProc)(DWORD* ids, DWORD bytes, DWORD* returned);
typedef BOOL(WINAPI* EnumProcessModulesProc)(HANDLE process, HMODULE* modules, DWORD bytes,
                                             DWORD* needed);
typedef DWORD(WINAPI* GetModuleFileNameExProc)(HANDLE process, HMODULE module, LPSTR name,
                                               DWORD size);
typedef BOOL(WINAPI* TaskEnumProcEx)(DWORD thread_id, WORD module16, WORD task16,
                                     PSZ module_name, PSZ file_name, LPARAM context);
typedef INT(WINAPI* VdmEnumTaskWowExProc)(DWORD process_id, TaskEnumProcEx callback,
                                          LPARAM context);
typedef BOOL(WINAPI* QueryImageNameProc)(HANDLE process, DWORD flags, LPSTR name, DWORD* size);
typedef HANDLE(WINAPI* OpenProcessProc)(DWORD access, BOOL inherit, DWORD process_id);

struct NtProcessInterface {
  EnumProcessesProc enum_processes;             // PSAPI.DLL
  EnumProcessModulesProc enum_process_modules;  // PSAPI.DLL
  GetModuleFileNameExProc module_file_name;     // PSAPI.DLL, the A form
  VdmEnumTaskWowExProc enum_tasks;              // VDMDBG.DLL
  // KERNEL32.DLL's QueryFullProcessImageNameA from Vista on, else null: it
  // names a process of either bitness, where PSAPI cannot read the modules
  // of a 64-bit process from a 32-bit one.
  QueryImageNameProc query_image_name;
  OpenProcessProc open_process;
};

// Walks the process list of api.enum_processes (and the 16-bit tasks of
// every NTVDM.EXE): 0 when walked, -1 when the list could not be fetched.
int WalkNtProcesses(const NtProcessInterface& api, ProcessCallback callback, void* context);
