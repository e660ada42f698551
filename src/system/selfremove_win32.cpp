// Not built yet: answers with a clear message and a failure.
#include "system/selfremove.h"
#include "ui/messages.h"

void RemoveSelf() {}
