#include "platform/gtk/gtk_impl.h"
#include "platform/gtk/pictures.h"

namespace platform {

namespace {

std::unique_ptr<Control::Impl> make_picture(Window& parent, Geometry g, const char* picture) {
  auto impl = std::make_unique<Control::Impl>();
  GdkPixbuf* pixbuf = gtk::load_picture(picture);
  impl->widget = pixbuf ? gtk_image_new_from_pixbuf(pixbuf) : gtk_image_new();
  if (pixbuf) g_object_unref(pixbuf);
  gtk::place(parent, impl->widget, g, false);
  return impl;
}

}  // namespace

Picture::Picture(Window& parent, Geometry g, PictureName picture)
    : Control(make_picture(parent, g, picture.name)) {}

namespace gtk {

GdkPixbuf* load_picture(const char* name) {
  for (const EmbeddedPicture* p = kPictures; p->name; ++p) {
    if (std::string(p->name) != name) continue;
    GInputStream* in =
        g_memory_input_stream_new_from_data(p->data, static_cast<gssize>(p->size), nullptr);
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_stream(in, nullptr, nullptr);
    g_object_unref(in);
    return pixbuf;
  }
  return nullptr;
}

}  // namespace gtk
}  // namespace platform
