// Application start, message loop, idle hook, the UI hand-off and message boxes.
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <gio/gunixsocketaddress.h>
#include <glib-unix.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstring>
#include <optional>
#include <thread>

#include "logic/utf8.h"
#include "platform/gtk/files.h"
#include "platform/gtk/gtk_impl.h"

namespace platform {

namespace {

std::thread::id g_ui_thread;
std::function<void()> g_idle_hook;
bool g_idle_source = false;
// Set once the main loop has ended; hand-offs from late workers are dropped from then on.
std::atomic<bool> g_loop_ended{false};

// GLib registers a type at its first use, and two threads doing that at once can deadlock
// while a third initialises a class (GLib 2.74: a lookup making its HTTP session, the
// settings' D-Bus worker connecting, the UI thread taking the clipboard, each waiting for
// another). The address types those threads all reach for are registered here, before
// main, while there is one thread.
const bool g_types_registered = [] {
  for (const GType type : {G_TYPE_INET_ADDRESS, G_TYPE_SOCKET_ADDRESS, G_TYPE_INET_SOCKET_ADDRESS,
                           G_TYPE_PROXY_ADDRESS, G_TYPE_UNIX_SOCKET_ADDRESS, G_TYPE_NETWORK_ADDRESS,
                           G_TYPE_NETWORK_SERVICE})
    g_type_ensure(type);
  return true;
}();

// Every control takes its font from here; GTK's padding and minimum sizes are trimmed so
// that a control keeps the pixel size it was placed with. The family is filled in at start.
constexpr char kCss[] = R"(
* { font-family: Tahoma, %s sans-serif; font-size: 11px; }
entry { min-height: 0; padding: 0 3px; }
button { min-height: 0; min-width: 0; padding: 0 2px; }
button.spin-arrow { padding: 0; border-radius: 0; }
checkbutton { padding: 0; }
checkbutton check { margin: 0 4px 0 0; min-width: 13px; min-height: 13px; }
frame.panel > border { border-style: solid; border-width: 1px; }
)";

// The family the desktop draws Japanese sans-serif text in, quoted and followed by a comma
// for the list above; empty when no installed font has Japanese. Every text of the program
// is Japanese, so that one font draws all of it, digits and Latin letters included, with
// Japanese glyph forms in any locale, and no second font is loaded for the Latin text.
std::string japanese_family() {
  std::string family;
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:lang=ja"));
  if (!pattern) return family;
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcChar8* name = nullptr;
  FcLangSet* langs = nullptr;
  if (match && FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch &&
      FcPatternGetLangSet(match, FC_LANG, 0, &langs) == FcResultMatch &&
      FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("ja")) == FcLangEqual) {
    for (const char* c = reinterpret_cast<const char*>(name); *c; ++c)
      if (*c != '"' && *c != '\\') family += *c;
    family = '"' + family + "\",";
  }
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  return family;
}

gboolean run_idle_hook(gpointer) {
  g_idle_source = false;
  if (g_idle_hook) {
    auto hook = g_idle_hook;
    gtk::invoke(hook);
  }
  return G_SOURCE_REMOVE;
}

void arm_idle_source() {
  if (g_idle_hook && !g_idle_source) {
    g_idle_source = true;
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, run_idle_hook, nullptr, nullptr);
  }
}

gboolean run_posted(gpointer data) {
  if (!g_loop_ended) gtk::invoke(*static_cast<std::function<void()>*>(data));
  return G_SOURCE_REMOVE;
}

void delete_posted(gpointer data) {
  delete static_cast<std::function<void()>*>(data);
}

GMainLoop* g_terminal_loop = nullptr;
std::optional<TerminalEnd> g_terminal_end;

// The first reason counts.
void end_terminal_loop(TerminalEnd why) {
  if (g_terminal_end) return;
  g_terminal_end = why;
  if (g_terminal_loop) g_main_loop_quit(g_terminal_loop);
}

gboolean on_termination_signal(gpointer) {
  end_terminal_loop(TerminalEnd::Signalled);
  return G_SOURCE_CONTINUE;
}

gboolean on_output_gone(gint, GIOCondition, gpointer) {
  end_terminal_loop(TerminalEnd::OutputClosed);
  return G_SOURCE_CONTINUE;
}

}  // namespace

const bool kHasCommandLine = true;

void init(int& argc, char**& argv) {
  g_ui_thread = std::this_thread::get_id();
  // GLib's and the lookup's threads allocate little and rarely: one shared heap serves them,
  // where by default each thread that allocates would get a heap of its own.
  mallopt(M_ARENA_MAX, 1);
  // The windows draw nothing with OpenGL; without this GDK would load the GL stack at
  // start (with a software renderer, tens of megabytes) only to probe its visuals.
  g_setenv("GDK_GL", "disable", FALSE);
  gtk_init(&argc, &argv);
  // The locale is the user's (gtk_init set it), but its character type is UTF-8 even where
  // none is set (the C locale of a bare container or service): GDK writes a window's legacy
  // title (WM_NAME) in the locale's encoding, at each title change, and leaves it out when
  // the title does not fit, so in plain C the Japanese titles would be missing for every
  // tool and window manager reading it.
  const char* ctype = std::setlocale(LC_CTYPE, nullptr);
  if (!ctype || !std::strcmp(ctype, "C") || !std::strcmp(ctype, "POSIX"))
    std::setlocale(LC_CTYPE, "C.UTF-8");
  GtkCssProvider* css = gtk_css_provider_new();
  const std::string family = japanese_family();
  gchar* rules = g_strdup_printf(kCss, family.c_str());
  gtk_css_provider_load_from_data(css, rules, -1, nullptr);
  g_free(rules);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
  g_set_application_name(application_title().c_str());
}

void run_message_loop() {
  Window* main = gtk::main_window();
  if (!main) return;
  Window::Impl& w = main->impl();
  if (w.on_show) gtk::invoke(w.on_show);
  gtk_widget_show_all(w.window);
  arm_idle_source();
  gtk_main();
  g_loop_ended = true;
}

void set_idle_hook(std::function<void()> hook) {
  g_idle_hook = std::move(hook);
  // Before the loop runs, the hook waits for run_message_loop to arm it.
  if (gtk_main_level() > 0) arm_idle_source();
}

void post_to_ui(std::function<void()> fn) {
  if (g_loop_ended) return;
  g_idle_add_full(G_PRIORITY_DEFAULT, run_posted, new std::function<void()>(std::move(fn)),
                  delete_posted);
}

bool on_ui_thread() {
  return std::this_thread::get_id() == g_ui_thread;
}

TerminalEnd run_terminal_loop(const std::function<void()>& start) {
  // A closed descriptor 1 is checked before anything opens a file, which would be given it.
  if (fcntl(STDOUT_FILENO, F_GETFL) < 0) return TerminalEnd::OutputClosed;
  std::signal(SIGPIPE, SIG_IGN);
  g_ui_thread = std::this_thread::get_id();
  g_terminal_end.reset();
  g_terminal_loop = g_main_loop_new(nullptr, FALSE);
  const guint sources[] = {
      g_unix_signal_add(SIGINT, on_termination_signal, nullptr),
      g_unix_signal_add(SIGTERM, on_termination_signal, nullptr),
      // Only errors are asked for: a pipe whose reader went away reports one at once, and
      // a file or a terminal none until it fails.
      g_unix_fd_add(STDOUT_FILENO, static_cast<GIOCondition>(G_IO_ERR | G_IO_HUP), on_output_gone,
                    nullptr),
  };
  invoke(start);
  if (!g_terminal_end) g_main_loop_run(g_terminal_loop);
  g_loop_ended = true;
  for (const guint source : sources) g_source_remove(source);
  g_main_loop_unref(g_terminal_loop);
  g_terminal_loop = nullptr;
  return *g_terminal_end;
}

void quit_terminal_loop() {
  end_terminal_loop(TerminalEnd::Quit);
}

// Where the program file is, even after it was replaced while running (as a package
// update does); the title and the start-up entry come from this path.
std::string executable_path() {
  return gtk::proc_link_path("/proc/self/exe");
}

std::string executable_directory() {
  const std::string path = executable_path();
  return path.substr(0, path.rfind('/') + 1);
}

std::string application_title() {
  return shared::title_from_executable(executable_path());
}

namespace {

// A text may name a path that is not UTF-8, which GTK cannot show: such bytes are replaced.
void show_box(const std::string& text, GtkMessageType type) {
  gchar* shown = g_utf8_make_valid(text.c_str(), -1);
  gchar* title = g_utf8_make_valid(application_title().c_str(), -1);
  GtkWidget* box = gtk_message_dialog_new(gtk::active_window(), GTK_DIALOG_MODAL, type,
                                          GTK_BUTTONS_OK, "%s", shown);
  gtk_window_set_title(GTK_WINDOW(box), title);
  g_free(title);
  g_free(shown);
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
}

}  // namespace

void message_box(const std::string& text) {
  show_box(text, GTK_MESSAGE_OTHER);
}

void show_exception(const std::exception& e) {
  show_box(e.what(), GTK_MESSAGE_ERROR);
}

void beep() {
  gdk_display_beep(gdk_display_get_default());
}

namespace gtk {

GtkWindow* active_window() {
  GList* all = gtk_window_list_toplevels();
  GtkWindow* found = nullptr;
  for (GList* l = all; l; l = l->next)
    if (gtk_window_is_active(GTK_WINDOW(l->data))) found = GTK_WINDOW(l->data);
  g_list_free(all);
  if (!found && main_window()) found = GTK_WINDOW(main_window()->impl().window);
  return found;
}

}  // namespace gtk
}  // namespace platform
