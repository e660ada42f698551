#pragma once

// 1 when the user is an administrator, 0 when not or when it cannot be told.
int IsAdministrator();
