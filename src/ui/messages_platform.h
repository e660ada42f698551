// What each platform provides to the portable half of user feedback.
#pragma once

#include <cstdarg>

#include "ui/messages.h"

const int BUTTON_OK = 1;
const int BUTTON_CANCEL = 2;

// Shows text (Windows: with OK and Cancel, and waits): the button.
int ShowMessageBox(const char* text);
// Asks text as a question: BUTTON_OK for yes, BUTTON_CANCEL for no.
int AskQuestion(const char* text);
StatusWindow StatusOpen(const char* text);  // null when it cannot be made
void StatusSetText(StatusWindow window, const char* text);
int StatusDestroy(StatusWindow window);  // 0, or 1 when refused
// One line on standard output.
void PrintLine(const char* format, va_list args);
