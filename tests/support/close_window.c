/* Asks a top-level window to close as a window manager's close button would: sends it
 * WM_DELETE_WINDOW. Usage: close_window WINDOW-ID (decimal or 0x hex). */
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s WINDOW-ID\n", argv[0]);
    return 2;
  }
  Display* display = XOpenDisplay(NULL);
  if (!display) {
    fprintf(stderr, "cannot open display\n");
    return 1;
  }
  XEvent ev = {0};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = (Window)strtoul(argv[1], NULL, 0);
  ev.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, ev.xclient.window, False, NoEventMask, &ev);
  XCloseDisplay(display);
  return 0;
}
