// Walking the running processes.
#pragma once

// Returns non-zero to go on, 0 to stop the walk.
typedef int (*ProcessCallback)(unsigned long process_id, unsigned short task,
                               const char* module_name, void* context);

// 1 when the walk was made, 0 when it could not be.
int EnumerateProcesses(ProcessCallback callback, void* context);
