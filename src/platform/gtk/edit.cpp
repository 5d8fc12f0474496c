#include "platform/gtk/gtk_impl.h"

namespace platform {

namespace {

std::unique_ptr<Control::Impl> make_edit(Window& parent, Geometry g, int font_height,
                                         bool centred) {
  auto impl = std::make_unique<Control::Impl>();
  impl->widget = impl->entry = gtk_entry_new();
  gtk_entry_set_width_chars(GTK_ENTRY(impl->entry), 1);
  if (centred) gtk_entry_set_alignment(GTK_ENTRY(impl->entry), 0.5f);
  gtk::set_font(impl->widget, font_height);
  gtk::place(parent, impl->widget, g, true);
  return impl;
}

}  // namespace

Edit::Edit(Window& parent, Geometry g, int font_height, bool centred)
    : Control(make_edit(parent, g, font_height, centred)) {}

std::string Edit::text() const {
  return gtk_entry_get_text(GTK_ENTRY(impl_->entry));
}

void Edit::set_text(const std::string& text) {
  gtk_entry_set_text(GTK_ENTRY(impl_->entry), text.c_str());
}

namespace gtk {

// The typing filters of the spin and path boxes would take the program's text for a
// paste; it passes them by.
void set_text_unfiltered(Control::Impl& c, const std::string& text) {
  g_signal_handlers_block_matched(c.entry, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, &c);
  gtk_entry_set_text(GTK_ENTRY(c.entry), text.c_str());
  g_signal_handlers_unblock_matched(c.entry, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, &c);
}

}  // namespace gtk
}  // namespace platform
