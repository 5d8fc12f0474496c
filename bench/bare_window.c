// bare_window [--label]: a plain GTK 3 window of the main window's size, for comparison
// with the program's start-up time and memory; with --label it shows one line of text (the
// main window's Japanese caption), which brings in the font machinery a window without text
// never loads. Prints one line and quits:
//   mapped=<s> drawn=<s> vmhwm_kb=<n>
// mapped and drawn are CLOCK_REALTIME seconds of the first map event and the end of the
// first draw; vmhwm_kb is the process's peak resident set, read 300 ms after the first draw.
#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static double mapped_at, drawn_at;

static double now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static long vmhwm_kb(void) {
  FILE* f = fopen("/proc/self/status", "r");
  char line[256];
  long kb = -1;
  while (f && fgets(line, sizeof line, f))
    if (strncmp(line, "VmHWM:", 6) == 0) sscanf(line + 6, "%ld", &kb);
  if (f) fclose(f);
  return kb;
}

static gboolean report_and_quit(gpointer data) {
  (void)data;
  printf("mapped=%.6f drawn=%.6f vmhwm_kb=%ld\n", mapped_at, drawn_at, vmhwm_kb());
  fflush(stdout);
  gtk_main_quit();
  return G_SOURCE_REMOVE;
}

static gboolean on_map(GtkWidget* w, GdkEvent* e, gpointer data) {
  (void)w, (void)e, (void)data;
  if (mapped_at == 0) mapped_at = now();
  return FALSE;
}

// Connected after the default handler, so the time is taken once the window was painted.
static gboolean on_draw(GtkWidget* w, cairo_t* cr, gpointer data) {
  (void)w, (void)cr, (void)data;
  if (drawn_at == 0) {
    drawn_at = now();
    g_timeout_add(300, report_and_quit, NULL);
  }
  return FALSE;
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "bare");
  gtk_window_set_default_size(GTK_WINDOW(window), 402, 39);
  g_signal_connect(window, "map-event", G_CALLBACK(on_map), NULL);
  g_signal_connect_after(window, "draw", G_CALLBACK(on_draw), NULL);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  if (argc > 1 && strcmp(argv[1], "--label") == 0)
    gtk_container_add(GTK_CONTAINER(window), gtk_label_new("グローバルＩＰ"));
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
