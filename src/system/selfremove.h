// Removal of the program's own executable after it has ended.
#pragma once

void RemoveSelf();
