// The Windows entry point: a GUI program without a main window.
#include <windows.h>

#include "driver/entry.h"
#include "ui/messages.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  instance_handle = instance;
  GetModuleFileNameA(nullptr, module_file, PATH_SIZE);
  return RunProgram(command_line);
}
