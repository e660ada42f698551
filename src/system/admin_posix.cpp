// Not built yet: answers with a clear message and a failure.
#include "system/admin.h"
#include "ui/messages.h"

int IsAdministrator() { return 0; }
