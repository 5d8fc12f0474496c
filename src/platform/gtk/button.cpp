#include "platform/gtk/gtk_impl.h"

namespace platform {

namespace {

void on_clicked(GtkButton*, gpointer data) {
  gtk::invoke(static_cast<Control::Impl*>(data)->on_click);
}

std::unique_ptr<Control::Impl> make_button(Window& parent, Geometry g, GtkWidget* button,
                                           bool takes_focus) {
  auto impl = std::make_unique<Control::Impl>();
  impl->widget = button;
  g_signal_connect(button, "clicked", G_CALLBACK(on_clicked), impl.get());
  gtk::place(parent, button, g, takes_focus);
  return impl;
}

GtkWidget* picture_button(const char* picture) {
  GtkWidget* button = gtk_button_new();
  gtk_button_set_relief(GTK_BUTTON(button), GTK_RELIEF_NONE);
  if (GdkPixbuf* pixbuf = gtk::load_picture(picture)) {
    gtk_button_set_image(GTK_BUTTON(button), gtk_image_new_from_pixbuf(pixbuf));
    gtk_button_set_always_show_image(GTK_BUTTON(button), TRUE);
    g_object_unref(pixbuf);
  }
  return button;
}

}  // namespace

Button::Button(Window& parent, Geometry g, const std::string& caption)
    : Control(make_button(parent, g, gtk_button_new_with_label(caption.c_str()), true)) {}

// A flat picture button takes no focus, like a tool button.
Button::Button(Window& parent, Geometry g, PictureName picture)
    : Control(make_button(parent, g, picture_button(picture.name), false)) {}

void Button::on_click(std::function<void()> handler) {
  impl_->on_click = std::move(handler);
}

void Button::click() {
  gtk_button_clicked(GTK_BUTTON(impl_->widget));
}

}  // namespace platform
