// What each platform provides to the portable half of user feedback.
#pragma once

#include "ui/messages.h"

const int BUTTON_OK = 1;
const int BUTTON_CANCEL = 2;

// Shows text with OK and Cancel and waits; returns the button.
int ShowMessageBox(const char* text);
StatusWindow StatusOpen(const char* text);     // null when it cannot be made
void StatusSetText(StatusWindow window, const char* text);
int StatusDestroy(StatusWindow window);        // 0, or 1 when refused
// The calling thread's last system error code (GetLastError or errno).
int LastSystemError();
// The process is about to end on Cancel: leave the console tidy.
void StatusAbandon();
