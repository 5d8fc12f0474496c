// The interval box: an entry with up and down arrows beside it.
#include "logic/spin_rules.h"
#include "platform/gtk/gtk_impl.h"

namespace platform {

namespace {

void set_entry_text(Control::Impl& c, const std::string& text) {
  if (text != gtk_entry_get_text(GTK_ENTRY(c.entry)))
    gtk_entry_set_text(GTK_ENTRY(c.entry), text.c_str());
}

void step(Control::Impl& c, int delta) {
  set_entry_text(c, option::spin_step(gtk_entry_get_text(GTK_ENTRY(c.entry)), delta, c.minimum));
}

// An edit that replaces a selection (a paste, a typed character) deletes the selection
// first and inserts afterwards, both in the same turn of the main loop. What the box held
// before the first deletion is kept on the entry until the loop turns, so that a refused
// insertion undoes the whole edit rather than leaving the box emptied.
struct EditStart {
  std::string text;
  int selection[2] = {0, 0};
  bool undone = false;
};
constexpr char kEditStart[] = "addrova-edit-start";

void free_edit_start(gpointer data) {
  delete static_cast<EditStart*>(data);
}

gboolean end_edit(gpointer data) {
  GObject* entry = G_OBJECT(data);
  const auto* start = static_cast<EditStart*>(g_object_get_data(entry, kEditStart));
  // An undone edit gets its selection back; a destroyed entry has no parent any more.
  if (start && start->undone && gtk_widget_get_parent(GTK_WIDGET(entry)))
    gtk_editable_select_region(GTK_EDITABLE(entry), start->selection[0], start->selection[1]);
  g_object_set_data(entry, kEditStart, nullptr);
  return G_SOURCE_REMOVE;
}

void on_delete(GtkEditable* editable, gint, gint, gpointer) {
  GObject* entry = G_OBJECT(editable);
  if (g_object_get_data(entry, kEditStart)) return;
  auto* start = new EditStart{gtk_entry_get_text(GTK_ENTRY(editable))};
  gtk_editable_get_selection_bounds(editable, &start->selection[0], &start->selection[1]);
  g_object_set_data_full(entry, kEditStart, start, free_edit_start);
  g_idle_add_full(G_PRIORITY_HIGH, end_edit, g_object_ref(entry), g_object_unref);
}

void undo_edit(Control::Impl& c) {
  auto* start = static_cast<EditStart*>(g_object_get_data(G_OBJECT(c.entry), kEditStart));
  if (!start) return;
  start->undone = true;
  gtk::set_text_unfiltered(c, start->text);
}

// Typed characters other than digits beep and are dropped; a paste (several characters
// at once) is kept only if the whole text then reads as an integer. Either way a refused
// insertion leaves the box as it was before the edit.
void on_insert(GtkEditable* editable, const gchar* text, gint length, gint* position,
               gpointer data) {
  auto& c = *static_cast<Control::Impl*>(data);
  const std::string added(text, length < 0 ? strlen(text) : static_cast<std::size_t>(length));
  if (g_utf8_strlen(added.c_str(), -1) == 1) {
    if (option::spin_accepts_char(g_utf8_get_char(added.c_str()))) return;
    beep();
  } else {
    std::string result = gtk_entry_get_text(GTK_ENTRY(editable));
    const gchar* at = g_utf8_offset_to_pointer(
        result.c_str(), std::min<glong>(*position, g_utf8_strlen(result.c_str(), -1)));
    result.insert(at - result.c_str(), added);
    if (option::spin_accepts_paste(result)) return;
  }
  g_signal_stop_emission_by_name(editable, "insert-text");
  undo_edit(c);
}

gboolean on_key(GtkWidget*, GdkEventKey* event, gpointer data) {
  auto& c = *static_cast<Control::Impl*>(data);
  switch (event->keyval) {
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up:
      step(c, 1);
      return TRUE;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down:
      step(c, -1);
      return TRUE;
    default:
      return FALSE;
  }
}

gboolean on_scroll(GtkWidget*, GdkEventScroll* event, gpointer data) {
  auto& c = *static_cast<Control::Impl*>(data);
  if (event->direction == GDK_SCROLL_UP) step(c, 1);
  if (event->direction == GDK_SCROLL_DOWN) step(c, -1);
  if (event->direction == GDK_SCROLL_SMOOTH && event->delta_y != 0)
    step(c, event->delta_y < 0 ? 1 : -1);
  return TRUE;
}

gboolean on_focus_out(GtkWidget*, GdkEvent*, gpointer data) {
  auto& c = *static_cast<Control::Impl*>(data);
  set_entry_text(c, option::spin_leave(gtk_entry_get_text(GTK_ENTRY(c.entry)), c.minimum));
  return FALSE;
}

void on_up(GtkButton*, gpointer data) {
  step(*static_cast<Control::Impl*>(data), 1);
}
void on_down(GtkButton*, gpointer data) {
  step(*static_cast<Control::Impl*>(data), -1);
}

// The arrows are stacked in the box's own height, like the small arrows beside a Windows
// spin box: each one half the height, with an 8-pixel icon, so the box keeps its row.
GtkWidget* arrow(const char* icon, GCallback handler, Control::Impl* c) {
  GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_MENU);
  gtk_image_set_pixel_size(GTK_IMAGE(image), 8);
  GtkWidget* button = gtk_button_new();
  gtk_button_set_image(GTK_BUTTON(button), image);
  gtk_button_set_always_show_image(GTK_BUTTON(button), TRUE);
  gtk_style_context_add_class(gtk_widget_get_style_context(button), "spin-arrow");
  gtk_widget_set_can_focus(button, FALSE);
  gtk_widget_set_size_request(button, 14, -1);
  g_signal_connect(button, "clicked", handler, c);
  return button;
}

std::unique_ptr<Control::Impl> make_spin(Window& parent, Geometry g, int minimum) {
  auto impl = std::make_unique<Control::Impl>();
  Control::Impl* c = impl.get();
  c->minimum = minimum;
  c->entry = gtk_entry_new();
  gtk_entry_set_width_chars(GTK_ENTRY(c->entry), 1);
  gtk_widget_set_hexpand(c->entry, TRUE);
  gtk_widget_add_events(c->entry, GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK);
  g_signal_connect(c->entry, "insert-text", G_CALLBACK(on_insert), c);
  g_signal_connect(c->entry, "delete-text", G_CALLBACK(on_delete), c);
  g_signal_connect(c->entry, "key-press-event", G_CALLBACK(on_key), c);
  g_signal_connect(c->entry, "scroll-event", G_CALLBACK(on_scroll), c);
  g_signal_connect(c->entry, "focus-out-event", G_CALLBACK(on_focus_out), c);
  GtkWidget* arrows = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_set_homogeneous(GTK_BOX(arrows), TRUE);
  gtk_box_pack_start(GTK_BOX(arrows), arrow("pan-up-symbolic", G_CALLBACK(on_up), c), TRUE, TRUE,
                     0);
  gtk_box_pack_start(GTK_BOX(arrows), arrow("pan-down-symbolic", G_CALLBACK(on_down), c), TRUE,
                     TRUE, 0);
  c->widget = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_box_pack_start(GTK_BOX(c->widget), c->entry, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(c->widget), arrows, FALSE, FALSE, 0);
  gtk::place(parent, c->widget, g, true);
  return impl;
}

}  // namespace

SpinEdit::SpinEdit(Window& parent, Geometry g, int minimum)
    : Control(make_spin(parent, g, minimum)) {}

std::string SpinEdit::text() const {
  return gtk_entry_get_text(GTK_ENTRY(impl_->entry));
}

// Text set by the program is taken as it is.
void SpinEdit::set_text(const std::string& text) {
  gtk::set_text_unfiltered(*impl_, text);
}

}  // namespace platform
