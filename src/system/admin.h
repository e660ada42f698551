// The administrator check: the token's groups on NT, always yes on the
// 95 family.
#pragma once

// Whether the user is an administrator; no when it cannot be told, which
// the installation then says.
bool IsAdministrator();

// Windows build only: whether the open token (a HANDLE with query access)
// holds the Administrators alias in any state; no on failure.
bool TokenHoldsAdministrators(void* token);
