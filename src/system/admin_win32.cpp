// The administrator check on Windows: the Administrators alias in the
// thread's token, or else the process's.
#include <windows.h>

#include <cstdlib>

#include "system/admin.h"

// Closes the token on every way out.
struct TokenHolder {
  HANDLE handle = nullptr;
  ~TokenHolder() {
    if (handle) CloseHandle(handle);
  }
};

int TokenHoldsAdministrators(void* token) {
  DWORD needed = 0;
  if (GetTokenInformation(token, TokenGroups, nullptr, 0, &needed) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return 0;
  // Rounded up to whole DWORDs, as the group records are aligned.
  DWORD size = (needed + 3) & ~3u;
  TOKEN_GROUPS* groups = (TOKEN_GROUPS*)malloc(size);
  if (!groups) return 0;
  int answer = 0;
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (GetTokenInformation(token, TokenGroups, groups, size, &needed) &&
      AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                               DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
    // Present counts, whatever its attributes: disabled or deny-only as well.
    for (DWORD i = 0; i < groups->GroupCount && !answer; ++i)
      if (EqualSid(groups->Groups[i].Sid, administrators)) answer = 1;
    FreeSid(administrators);
  }
  free(groups);
  return answer;
}

int IsAdministrator() {
  if (GetVersion() & 0x80000000u) return 1;  // the 95 family has no security
  TokenHolder token;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token.handle)) {
    token.handle = nullptr;
    if (GetLastError() != ERROR_NO_TOKEN) return 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token.handle)) {
      token.handle = nullptr;
      return 0;
    }
  }
  return TokenHoldsAdministrators(token.handle);
}
