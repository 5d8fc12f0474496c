// bare_window [--label] [--hwm]: a plain GTK 3 window of the main window's size, for
// comparison with the program's start-up time and memory; with --label it shows one line
// of text (the main window's Japanese caption), which brings in the font machinery a
// window without text never loads.
//
// It exits as soon as its first frame has been drawn and sent to the X server, so that
// the whole process lasts from exec to the window drawn and a process timer can time it.
// With --hwm it instead prints its peak resident set (VmHWM) in kB 300 ms after that
// frame, and exits.
#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static gboolean hwm;

static gboolean report_and_exit(gpointer data) {
  (void)data;
  if (hwm) {
    FILE* f = fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    while (f && fgets(line, sizeof line, f))
      if (strncmp(line, "VmHWM:", 6) == 0) sscanf(line + 6, "%ld", &kb);
    printf("%ld\n", kb);
    fflush(stdout);
  }
  gdk_display_flush(gdk_display_get_default());
  _exit(0);
}

// Connected after the default handler; the frame is finished and flushed once the main
// loop is idle again.
static gboolean on_draw(GtkWidget* w, cairo_t* cr, gpointer data) {
  (void)w, (void)cr, (void)data;
  static gboolean drawn;
  if (!drawn) {
    drawn = TRUE;
    if (hwm)
      g_timeout_add(300, report_and_exit, NULL);
    else
      g_idle_add_full(G_PRIORITY_HIGH, report_and_exit, NULL, NULL);
  }
  return FALSE;
}

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "bare");
  gtk_window_set_default_size(GTK_WINDOW(window), 402, 39);
  g_signal_connect_after(window, "draw", G_CALLBACK(on_draw), NULL);
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--label") == 0)
      gtk_container_add(GTK_CONTAINER(window), gtk_label_new("グローバルＩＰ"));
    hwm |= strcmp(argv[i], "--hwm") == 0;
  }
  gtk_widget_show_all(window);
  gtk_main();
  return 1;
}
