// Internals shared by the GTK back end's files.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/invoke.h"
#include "platform/platform.h"

namespace platform {

struct Control::Impl {
  GtkWidget* widget = nullptr;  // what is placed in the window
  GtkWidget* entry = nullptr;   // the text entry of edit-like controls
  std::function<void()> on_click;
  int minimum = 0;     // lowest value of a spin box
  int max_length = 0;  // longest text the user can type into a path box
  // A path box's path as the program set it, byte for byte, until the user edits the box,
  // which can hold only UTF-8.
  std::optional<std::string> path;
  bool hand_cursor = false;
};

struct Window::Impl {
  Window::Kind kind;
  GtkWidget* window = nullptr;
  GtkWidget* fixed = nullptr;
  int client_width = 0, client_height = 0;
  std::function<void()> on_show;
  GMainLoop* modal_loop = nullptr;
  std::vector<GtkWidget*> focus_chain;
};

namespace gtk {

using platform::invoke;
// Puts a control's widget into its window at the given client position and size.
void place(Window& parent, GtkWidget* widget, Geometry g, bool takes_focus);
// Font for one widget: the family every window uses, at the given Windows-style height.
void set_font(GtkWidget* widget, int font_height);
// Sets a control's entry text past the typing filters it connected with itself as data.
void set_text_unfiltered(Control::Impl& c, const std::string& text);
// Loads an embedded picture; nullptr when there is none of that name.
GdkPixbuf* load_picture(const char* name);
Window* main_window();
// Runs a path box's Save dialog (set up, not yet shown) and gives the chosen file, or
// nothing when the user cancelled. Tests put their own answer here, so that no dialog
// waits for a user.
extern std::function<std::optional<std::string>(GtkFileChooser*)> run_save_dialog;
GtkWindow* active_window();
// The IPv4 routing table and addresses, as text: a report of GIO's network monitor counts
// as a change when this changed. Tests put their own here, to report changes of their own.
extern std::function<std::string()> network_state;

}  // namespace gtk
}  // namespace platform
