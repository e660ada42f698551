// What setup.exe takes in place of the toolchain's runtime: the process
// entry, and the back end of snprintf. msvcrt.dll sets up its own stdio when
// it is loaded, and the program needs little else of a start-up (no
// argument vector, no thread-local data), so the executable carries none.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

// The command line after the program's name and the blanks that follow it,
// as the C runtime hands it to WinMain: a quoted name may hold blanks.
static char* ArgumentsOf(char* command_line) {
  unsigned char* line = (unsigned char*)command_line;
  bool quoted = false;
  for (; *line > ' ' || (*line && quoted); ++line)
    if (*line == '"') quoted = !quoted;
  while (*line && *line <= ' ') ++line;
  return (char*)line;
}

// Constructors of objects at namespace scope, should there be any: the
// linker lists them between a -1 and a 0, and they run from the last.
// (Destructors would need the start-up's atexit: such an object fails the
// link.)
extern "C" void (*__CTOR_LIST__[])();

static void RunConstructors() {
  size_t count = 0;
  while (__CTOR_LIST__[count + 1]) ++count;
  for (; count > 0; --count) __CTOR_LIST__[count]();
}

// The linker takes this name as the entry of a GUI program, unseen by the
// link-time optimiser. Windows enters with the stack aligned to 4 bytes only.
extern "C" __attribute__((force_align_arg_pointer, used)) void WinMainCRTStartup() {
  RunConstructors();
  STARTUPINFOA startup;
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  // exit, not ExitProcess: the C runtime's buffered output is written first.
  exit(WinMain(GetModuleHandleA(nullptr), nullptr, ArgumentsOf(GetCommandLineA()), show));
}

// snprintf and vsnprintf end here with msvcrt's printf family chosen. The
// toolchain's version counts what does not fit with _vscprintf, which
// msvcrt.dll gained only with Windows XP; its stand-in would bring more
// imports. Here a text that does not fit is cut, still terminated, and the
// result is n: callers compare the result with the size.
extern "C" __attribute__((used)) int __cdecl __ms_vsnprintf(char* buffer, size_t n, const char* format, va_list args) {
  if (n == 0) return 0;
  int length = _vsnprintf(buffer, n, format, args);
  if (length >= 0 && (size_t)length < n) return length;
  buffer[n - 1] = '\0';
  return (int)n;
}

// What a format would write, which the toolchain's snprintf asks for where
// its size is 0; the link-time optimiser sees that call before it drops it.
// No caller here gives a size of 0. This stands in for the toolchain's own,
// which needs the msvcrt.dll of Windows XP and brings imports of its own.
#define SETUP_STRING(x) SETUP_STRING_OF(x)
#define SETUP_STRING_OF(x) #x
extern "C" int __cdecl CountFormatted(const char* format, va_list args) __asm__(SETUP_STRING(__USER_LABEL_PREFIX__) "_vscprintf");
extern "C" __attribute__((used)) int __cdecl CountFormatted(const char* format, va_list args) {
  char buffer[1024];
  return _vsnprintf(buffer, sizeof buffer, format, args);
}
