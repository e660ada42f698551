// The administrator of a POSIX system is the super-user.
#include <unistd.h>

#include "system/admin.h"

int IsAdministrator() { return geteuid() == 0 ? 1 : 0; }
