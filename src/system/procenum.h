// Walking the running processes.
#pragma once

// Returns non-zero to go on, 0 to stop the walk.
typedef int (*ProcessCallback)(unsigned long process_id, unsigned short task,
                               const char* module_name, void* context);

// 0 when the walk was made, -1 when it could not be (with the system's
// code): no process was then seen, which is not to say that none runs.
int EnumerateProcesses(ProcessCallback callback, void* context);
