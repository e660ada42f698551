// The Windows entry point: a GUI program without a main window.
#include <windows.h>

#include "driver/entry.h"
#include "ui/settings.h"
#include "ui/messages.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  settings.instance = instance;
  GetModuleFileNameA(nullptr, settings.module_file, PATH_SIZE);
  return RunProgram(command_line);
}
