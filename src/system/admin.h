// The administrator check: the token's groups on NT, always yes on the
// 95 family.
#pragma once

// 1 when the user is an administrator, 0 when not or when it cannot be told.
int IsAdministrator();

// Windows build only: 1 when the open token (a HANDLE with query access)
// holds the Administrators alias in any state, 0 when not or on failure.
int TokenHoldsAdministrators(void* token);
