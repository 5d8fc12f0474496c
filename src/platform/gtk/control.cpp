// What every control has: enabling, a hint, focus and the hand cursor.
#include "platform/gtk/gtk_impl.h"

namespace platform {

Control::Control(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Control::~Control() = default;

void Control::set_enabled(bool on) {
  gtk_widget_set_sensitive(impl_->widget, on);
}

bool Control::enabled() const {
  return gtk_widget_get_sensitive(impl_->widget);
}

void Control::set_hint(const std::string& text) {
  gtk_widget_set_tooltip_text(impl_->widget, text.c_str());
  atk_object_set_name(gtk_widget_get_accessible(impl_->widget), text.c_str());
}

void Control::focus() {
  GtkWidget* target = impl_->entry ? impl_->entry : impl_->widget;
  gtk_widget_grab_focus(target);
}

namespace {

gboolean on_crossing(GtkWidget* widget, GdkEventCrossing* event, gpointer) {
  GdkWindow* window = gtk_widget_get_window(widget);
  if (!window) return FALSE;
  GdkCursor* cursor = event->type == GDK_ENTER_NOTIFY
                          ? gdk_cursor_new_from_name(gdk_window_get_display(window), "pointer")
                          : nullptr;
  gdk_window_set_cursor(window, cursor);
  if (cursor) g_object_unref(cursor);
  return FALSE;
}

}  // namespace

void Control::set_hand_cursor() {
  if (impl_->hand_cursor) return;
  impl_->hand_cursor = true;
  gtk_widget_add_events(impl_->widget, GDK_ENTER_NOTIFY_MASK | GDK_LEAVE_NOTIFY_MASK);
  g_signal_connect(impl_->widget, "enter-notify-event", G_CALLBACK(on_crossing), nullptr);
  g_signal_connect(impl_->widget, "leave-notify-event", G_CALLBACK(on_crossing), nullptr);
}

}  // namespace platform
