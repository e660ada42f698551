// The administrator of a POSIX system is the super-user.
#include <unistd.h>

#include "system/admin.h"

bool IsAdministrator() { return geteuid() == 0; }
