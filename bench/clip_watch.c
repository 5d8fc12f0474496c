// clip_watch [-m TEXT] COMMAND [ARG…]: starts COMMAND and ends when the CLIPBOARD
// selection on $DISPLAY gets a new owner, which happens when a program puts text on the
// clipboard. The whole process therefore lasts from the start of COMMAND to the moment
// its text became available there, and a process timer (hyperfine) can time it.
//
// At the change COMMAND is killed and waited for, and clip_watch exits 0. Whatever changed
// the owner before (e.g. xclip) must have done so before clip_watch starts.
//
// With -m TEXT it also asks the new owner for the text and, 300 ms after it has that,
// prints COMMAND's peak resident set (VmHWM) in kB; exit 1 when the text is not TEXT.
// Exit 1 as well when COMMAND ends first or nothing changes within 30 s.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static Display* d;
static Window self;
static pid_t child;

static int fail(const char* why) {
  fprintf(stderr, "clip_watch: %s\n", why);
  if (child > 0) {
    kill(child, SIGKILL);
    waitpid(child, NULL, 0);
  }
  return 1;
}

// The next event of TYPE; 0 after 30 s or when the child ended.
static int next_event(int type, XEvent* e) {
  struct pollfd p = {ConnectionNumber(d), POLLIN, 0};
  for (int waited = 0; waited < 30000; waited += 10) {
    while (XPending(d)) {
      XNextEvent(d, e);
      if (e->type == type) return 1;
    }
    if (waitpid(child, NULL, WNOHANG) == child) {
      child = 0;
      return 0;
    }
    poll(&p, 1, 10);
  }
  return 0;
}

static long vmhwm_kb(void) {
  char path[64], line[256];
  long kb = -1;
  snprintf(path, sizeof path, "/proc/%d/status", (int)child);
  FILE* f = fopen(path, "r");
  while (f && fgets(line, sizeof line, f))
    if (strncmp(line, "VmHWM:", 6) == 0) sscanf(line + 6, "%ld", &kb);
  if (f) fclose(f);
  return kb;
}

int main(int argc, char** argv) {
  const char* expect = NULL;
  int first = 1;
  if (argc > 2 && strcmp(argv[1], "-m") == 0) expect = argv[2], first = 3;
  if (first >= argc) return fprintf(stderr, "usage: clip_watch [-m TEXT] COMMAND [ARG…]\n"), 2;
  if (!(d = XOpenDisplay(NULL))) return fail("cannot open the display");
  int event_base, error_base;
  if (!XFixesQueryExtension(d, &event_base, &error_base)) return fail("no XFIXES extension");
  const Atom clipboard = XInternAtom(d, "CLIPBOARD", False);
  self = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  XFixesSelectSelectionInput(d, DefaultRootWindow(d), clipboard, XFixesSetSelectionOwnerNotifyMask);
  XSync(d, False);

  if ((child = fork()) == 0) {
    close(ConnectionNumber(d));
    execvp(argv[first], argv + first);
    _exit(127);
  }
  XEvent e;
  if (!next_event(event_base + XFixesSelectionNotify, &e))
    return fail("the clipboard did not change");
  if (!expect) {
    kill(child, SIGKILL);
    waitpid(child, NULL, 0);
    return 0;
  }

  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False), prop = XInternAtom(d, "CLIP_WATCH", False);
  XConvertSelection(d, clipboard, utf8, prop, self, CurrentTime);
  if (!next_event(SelectionNotify, &e) || e.xselection.property == None)
    return fail("the clipboard's text could not be read");
  Atom type;
  int format;
  unsigned long n, left;
  unsigned char* text = NULL;
  XGetWindowProperty(d, self, prop, 0, 1024, True, AnyPropertyType, &type, &format, &n, &left, &text);
  const int same = text && strcmp((const char*)text, expect) == 0;
  if (!same) fprintf(stderr, "clip_watch: the clipboard holds '%s'\n", text ? (char*)text : "");
  usleep(300000);
  printf("%ld\n", vmhwm_kb());
  kill(child, SIGKILL);
  waitpid(child, NULL, 0);
  return same ? 0 : 1;
}
