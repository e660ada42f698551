// The sizes of the texts that every layer shares.
#pragma once

const int PATH_SIZE = 260;             // a path: the Windows limit, terminator included
const int MESSAGE_BUFFER_SIZE = 1024;  // a message: at most 1023 characters and the terminator
