// Writing the distribution floppies from the INF file's list of files.
#pragma once

int BuildFloppySet();
