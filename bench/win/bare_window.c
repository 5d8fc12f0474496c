// bare_window.exe [--label]: a plain Win32 window of the main window's client size
// (402×39) and frame style, the reference for the program's start-up time under Wine.
// It registers a class, creates and shows the window and runs a message loop; at the end
// of the first WM_PAINT the process ends at once, so that the whole process lasts from
// exec to the window painted and a process timer can time it.
//
// With --label it also shows one line of text, the main window's Japanese caption in
// Tahoma 11 px as the program draws it: a window without text never loads a font, which
// the program must (under a Japanese locale, through the font link to a CJK font). The
// label is painted before the process ends.
//
// bare_window.exe --hold creates the window without showing it and waits until it is
// ended. A benchmark runs it alongside the timed starts: Wine's desktop process (explorer,
// which also hands the clipboard to X) quits a second after the last program on the
// desktop ends, and is started again by the next one; with this holder it keeps running,
// as the desktop does on Windows, and no timed start pays for it.
#include <windows.h>
#include <string.h>

#define CLIENT_WIDTH 402
#define CLIENT_HEIGHT 39

static HWND label;

static LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);  // the class brush erases the background
      EndPaint(hwnd, &ps);
      // The children's pending paints, now, so that the label is on screen too.
      if (label) RedrawWindow(hwnd, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
      TerminateProcess(GetCurrentProcess(), 0);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

int main(int argc, char** argv) {
  int with_label = 0, hold = 0;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--label") == 0)
      with_label = 1;
    else if (strcmp(argv[i], "--hold") == 0)
      hold = 1;
  }
  const HINSTANCE instance = GetModuleHandleW(NULL);
  WNDCLASSW wc = {0};
  wc.lpfnWndProc = window_proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"BareWindow";
  if (!RegisterClassW(&wc)) return 1;

  // The program's main window style: a fixed dialog border around the client area.
  const DWORD style = WS_CAPTION | WS_SYSMENU | WS_BORDER | WS_CLIPCHILDREN;
  RECT r = {0, 0, CLIENT_WIDTH, CLIENT_HEIGHT};
  AdjustWindowRect(&r, style, FALSE);
  const HWND hwnd = CreateWindowW(L"BareWindow", L"bare", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                  r.right - r.left, r.bottom - r.top, NULL, NULL, instance, NULL);
  if (!hwnd) return 1;
  if (hold) {
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
  }
  if (with_label) {
    // グローバルＩＰ
    label = CreateWindowW(L"STATIC", L"\u30B0\u30ED\u30FC\u30D0\u30EB\uFF29\uFF30",
                          WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 7, 15, 60, 13,
                          hwnd, NULL, instance, NULL);
    const HFONT font = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
    if (label) SendMessageW(label, WM_SETFONT, (WPARAM)font, FALSE);
  }
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);

  MSG msg;
  while (GetMessageW(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
