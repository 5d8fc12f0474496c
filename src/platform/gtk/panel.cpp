// A framed, clickable caption; Enter or Space activate it when it has the focus.
#include "platform/gtk/gtk_impl.h"

namespace platform {

namespace {

gboolean on_release(GtkWidget*, GdkEventButton* event, gpointer data) {
  if (event->button == 1) gtk::invoke(static_cast<Control::Impl*>(data)->on_click);
  return TRUE;
}

// The keyboard focus shows as the theme's focus rectangle inside the frame; a click with
// the mouse does not show it, as the window tracks whether the keyboard is in use.
gboolean on_draw(GtkWidget* widget, cairo_t* cr, gpointer) {
  if (!gtk_widget_has_visible_focus(widget)) return FALSE;
  const int w = gtk_widget_get_allocated_width(widget), h = gtk_widget_get_allocated_height(widget);
  gtk_render_focus(gtk_widget_get_style_context(widget), cr, 2, 2, w - 4, h - 4);
  return FALSE;
}

gboolean on_key(GtkWidget*, GdkEventKey* event, gpointer data) {
  switch (event->keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_space:
      gtk::invoke(static_cast<Control::Impl*>(data)->on_click);
      return TRUE;
    default:
      return FALSE;
  }
}

std::unique_ptr<Control::Impl> make_panel(Window& parent, Geometry g, const std::string& caption) {
  auto impl = std::make_unique<Control::Impl>();
  GtkWidget* box = gtk_event_box_new();
  GtkWidget* frame = gtk_frame_new(nullptr);
  gtk_style_context_add_class(gtk_widget_get_style_context(frame), "panel");
  gtk_container_add(GTK_CONTAINER(frame), gtk_label_new(caption.c_str()));
  gtk_container_add(GTK_CONTAINER(box), frame);
  gtk_widget_add_events(box, GDK_BUTTON_RELEASE_MASK | GDK_KEY_PRESS_MASK);
  g_signal_connect(box, "button-release-event", G_CALLBACK(on_release), impl.get());
  g_signal_connect(box, "key-press-event", G_CALLBACK(on_key), impl.get());
  g_signal_connect_after(box, "draw", G_CALLBACK(on_draw), nullptr);
  impl->widget = box;
  gtk::place(parent, box, g, true);
  return impl;
}

}  // namespace

Panel::Panel(Window& parent, Geometry g, const std::string& caption)
    : Control(make_panel(parent, g, caption)) {}

void Panel::on_click(std::function<void()> handler) {
  impl_->on_click = std::move(handler);
}

}  // namespace platform
