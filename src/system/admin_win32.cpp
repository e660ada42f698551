// The administrator check on Windows: the Administrators alias in the
// thread's token, or else the process's. The security calls are looked up
// in ADVAPI32 at run time: the 95 family need not export them, and a
// missing import would keep the program from starting at all.
#include <windows.h>

#include <cstdlib>

#include "os/windows_win32.h"
#include "system/admin.h"
#include "system/library_win32.h"

namespace {

typedef BOOL(WINAPI* OpenThreadTokenProc)(HANDLE, DWORD, BOOL, HANDLE*);
typedef BOOL(WINAPI* OpenProcessTokenProc)(HANDLE, DWORD, HANDLE*);
typedef BOOL(WINAPI* GetTokenInformationProc)(HANDLE, TOKEN_INFORMATION_CLASS, void*, DWORD,
                                              DWORD*);
typedef BOOL(WINAPI* AllocateAndInitializeSidProc)(SID_IDENTIFIER_AUTHORITY*, BYTE, DWORD, DWORD,
                                                   DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                                   PSID*);
typedef BOOL(WINAPI* EqualSidProc)(PSID, PSID);
typedef void*(WINAPI* FreeSidProc)(PSID);

struct Security {
  OpenThreadTokenProc open_thread_token;
  OpenProcessTokenProc open_process_token;
  GetTokenInformationProc get_token_information;
  AllocateAndInitializeSidProc allocate_sid;
  EqualSidProc equal_sid;
  FreeSidProc free_sid;
};

// All six, or false.
bool FindSecurity(const Library& advapi, Security* api) {
  api->open_thread_token = (OpenThreadTokenProc)(void*)advapi.Find("OpenThreadToken");
  api->open_process_token = (OpenProcessTokenProc)(void*)advapi.Find("OpenProcessToken");
  api->get_token_information =
      (GetTokenInformationProc)(void*)advapi.Find("GetTokenInformation");
  api->allocate_sid = (AllocateAndInitializeSidProc)(void*)advapi.Find("AllocateAndInitializeSid");
  api->equal_sid = (EqualSidProc)(void*)advapi.Find("EqualSid");
  api->free_sid = (FreeSidProc)(void*)advapi.Find("FreeSid");
  return api->open_thread_token && api->open_process_token && api->get_token_information &&
         api->allocate_sid && api->equal_sid && api->free_sid;
}

// Closes the token on every way out.
struct TokenHolder {
  HANDLE handle = nullptr;
  ~TokenHolder() {
    if (handle) CloseHandle(handle);
  }
};

bool HoldsAdministrators(const Security& api, HANDLE token) {
  DWORD needed = 0;
  if (api.get_token_information(token, TokenGroups, nullptr, 0, &needed) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return false;
  // Rounded up to whole DWORDs, as the group records are aligned.
  DWORD size = (needed + 3) & ~3u;
  TOKEN_GROUPS* groups = (TOKEN_GROUPS*)malloc(size);
  if (!groups) return false;
  bool answer = false;
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (api.get_token_information(token, TokenGroups, groups, size, &needed) &&
      api.allocate_sid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                       0, 0, 0, 0, 0, &administrators)) {
    // Present counts, whatever its attributes: disabled or deny-only as well.
    for (DWORD i = 0; i < groups->GroupCount && !answer; ++i)
      if (api.equal_sid(groups->Groups[i].Sid, administrators)) answer = true;
    api.free_sid(administrators);
  }
  free(groups);
  return answer;
}

}  // namespace

bool TokenHoldsAdministrators(void* token) {
  Library advapi("ADVAPI32.DLL");
  Security api;
  return FindSecurity(advapi, &api) && HoldsAdministrators(api, token);
}

bool IsAdministrator() {
  if (IsWindows95Family()) return true;  // no security there
  Library advapi("ADVAPI32.DLL");
  Security api;
  if (!FindSecurity(advapi, &api)) return false;
  TokenHolder token;
  if (!api.open_thread_token(GetCurrentThread(), TOKEN_QUERY, FALSE, &token.handle)) {
    token.handle = nullptr;
    if (GetLastError() != ERROR_NO_TOKEN) return false;
    if (!api.open_process_token(GetCurrentProcess(), TOKEN_QUERY, &token.handle)) {
      token.handle = nullptr;
      return false;
    }
  }
  return HoldsAdministrators(api, token.handle);
}
