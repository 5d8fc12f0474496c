// clip_watch: waits for the next change of the CLIPBOARD selection's owner on $DISPLAY.
// Prints "ready" once it listens, then, at the change, the CLOCK_REALTIME seconds of it,
// and exits. The owner changes when a program puts text on the clipboard, so this is the
// moment the text became available there. Exits 1 after the timeout in seconds (argv[1],
// default 30).
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(int argc, char** argv) {
  const double timeout = argc > 1 ? atof(argv[1]) : 30.0;
  Display* d = XOpenDisplay(NULL);
  if (!d) {
    fprintf(stderr, "clip_watch: cannot open display\n");
    return 2;
  }
  int event_base = 0, error_base = 0;
  if (!XFixesQueryExtension(d, &event_base, &error_base)) {
    fprintf(stderr, "clip_watch: no XFIXES extension\n");
    return 2;
  }
  const Atom clipboard = XInternAtom(d, "CLIPBOARD", False);
  XFixesSelectSelectionInput(d, DefaultRootWindow(d), clipboard, XFixesSetSelectionOwnerNotifyMask);
  XSync(d, False);
  printf("ready\n");
  fflush(stdout);
  struct pollfd p = {ConnectionNumber(d), POLLIN, 0};
  struct timespec start, ts;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
      if (e.type == event_base + XFixesSelectionNotify) {
        clock_gettime(CLOCK_REALTIME, &ts);
        printf("%.6f\n", (double)ts.tv_sec + (double)ts.tv_nsec / 1e9);
        return 0;
      }
    }
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const double left =
        timeout - ((double)(ts.tv_sec - start.tv_sec) + (double)(ts.tv_nsec - start.tv_nsec) / 1e9);
    if (left <= 0) return 1;
    poll(&p, 1, (int)(left * 1000) + 1);
  }
}
