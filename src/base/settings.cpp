// The one Settings record of the run.
#include "base/settings.h"

Settings settings = {0, 0, SHOW_NORMAL, "", "", "", nullptr, 1252, nullptr, nullptr};
