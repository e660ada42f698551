// Message boxes and the status window on Windows.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "ui/messages_platform.h"

static const char CAPTION[] = "ZQ K9150 Setup";
// The status window's class name is the system's own from its first
// release; tools that watch for the window know it by this name.
static const char CLASS_NAME[] = "WrenSetupClass";
static const UINT BOX_TYPE = MB_OKCANCEL | MB_TASKMODAL | MB_TOPMOST;  // 0x00042001
static const DWORD STATUS_STYLE = WS_POPUP | WS_VISIBLE | WS_DISABLED | WS_CAPTION;

static char status_text[MESSAGE_BUFFER_SIZE];
static int class_registered = 0;
static COLORREF status_background = 0;
static HBRUSH background_brush = nullptr;

LRESULT CALLBACK StatusWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

int FormatText(char* buffer, const char* format, va_list args) {
  // wvsprintfA stops at 1024 characters; make sure the text ends at 1023.
  buffer[0] = '\0';
  wvsprintfA(buffer, format, args);
  buffer[MESSAGE_BUFFER_SIZE - 1] = '\0';
  return (int)strlen(buffer);
}

int ShowMessageBox(const char* text) { return MessageBoxA(nullptr, text, CAPTION, BOX_TYPE); }

// A question is a box like any other: OK is yes, Cancel no.
int AskQuestion(const char* text) { return ShowMessageBox(text); }

const char TREE_QUESTION[] = "About to delete directory %s";

static void CopyStatusText(const char* text) {
  strncpy(status_text, text, sizeof status_text - 1);
  status_text[sizeof status_text - 1] = '\0';
}

static void RegisterStatusClass() {
  status_background = RGB(192, 192, 192);
  LOGBRUSH brush = {BS_SOLID, status_background, 0};
  background_brush = CreateBrushIndirect(&brush);
  WNDCLASSA window_class = {};
  window_class.style = 0;
  window_class.lpfnWndProc = StatusWndProc;
  window_class.hInstance = (HINSTANCE)settings.instance;
  window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  window_class.hbrBackground = background_brush;
  window_class.lpszClassName = CLASS_NAME;
  RegisterClassA(&window_class);
  class_registered = 1;
}

StatusWindow StatusOpen(const char* text) {
  if (!class_registered) RegisterStatusClass();
  HWND window = CreateWindowExA(0, CLASS_NAME, CAPTION, STATUS_STYLE, 100, 100, 250, 100,
                                nullptr, nullptr, (HINSTANCE)settings.instance, (LPVOID)text);
  if (!window) return nullptr;
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  return window;
}

void StatusSetText(StatusWindow window, const char* text) {
  SendMessageA((HWND)window, WM_USER, 0, (LPARAM)text);
}

int StatusDestroy(StatusWindow window) {
  return DestroyWindow((HWND)window) ? 0 : 1;
}

// The status window tells which file is at work; there is no progress line.
int ProgressWanted() { return 0; }
void ProgressBegin(const char*, int64_t, int64_t) {}
void ProgressUpdate(int64_t, int64_t) {}
void ProgressEnd() {}

// printf alone: the C runtime's streams are not used by name, so that no
// data of msvcrt.dll is imported.
void PrintLine(const char* format, va_list args) {
  char line[MESSAGE_BUFFER_SIZE];
  vsnprintf(line, sizeof line, format, args);
  printf("%s\n", line);
}


static void PaintStatus(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  SetBkColor(dc, status_background);
  TEXTMETRICA metrics;
  GetTextMetricsA(dc, &metrics);
  int x = metrics.tmMaxCharWidth;
  int y = metrics.tmHeight;
  const char* line = status_text;
  for (;;) {
    const char* end = strchr(line, '\n');
    int length = end ? (int)(end - line) : (int)strlen(line);
    TextOutA(dc, x, y, line, length);
    y += metrics.tmHeight;
    if (!end) break;
    line = end + 1;
  }
  EndPaint(window, &paint);
}

LRESULT CALLBACK StatusWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      CopyStatusText((const char*)((CREATESTRUCTA*)lparam)->lpCreateParams);
      return DefWindowProcA(window, message, wparam, lparam);
    case WM_PAINT:
      PaintStatus(window);
      return 0;
    case WM_USER:
      CopyStatusText((const char*)lparam);
      InvalidateRect(window, nullptr, TRUE);
      UpdateWindow(window);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}
