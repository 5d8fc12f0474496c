#include "platform/gtk/gtk_impl.h"

namespace platform {

namespace {

// "toggled" comes on every change of state, whether the user or the program made it,
// and never when the state is set to what it already is.
void on_toggled(GtkToggleButton*, gpointer data) {
  gtk::invoke(static_cast<Control::Impl*>(data)->on_click);
}

std::unique_ptr<Control::Impl> make_check(Window& parent, Geometry g, const std::string& caption) {
  auto impl = std::make_unique<Control::Impl>();
  impl->widget = gtk_check_button_new_with_label(caption.c_str());
  g_signal_connect(impl->widget, "toggled", G_CALLBACK(on_toggled), impl.get());
  gtk::place(parent, impl->widget, g, true);
  return impl;
}

}  // namespace

CheckBox::CheckBox(Window& parent, Geometry g, const std::string& caption)
    : Control(make_check(parent, g, caption)) {}

bool CheckBox::checked() const {
  return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(impl_->widget));
}

void CheckBox::set_checked(bool on) {
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(impl_->widget), on);
}

void CheckBox::on_click(std::function<void()> handler) {
  impl_->on_click = std::move(handler);
}

}  // namespace platform
