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
    // The pictures are PNG: a loader of that type decodes them without sniffing their
    // format through the system's MIME database, which costs a start its reading.
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    if (!loader) return nullptr;
    const bool ok = gdk_pixbuf_loader_write(loader, p->data, p->size, nullptr);
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_close(loader, nullptr) && ok
                            ? gdk_pixbuf_loader_get_pixbuf(loader)
                            : nullptr;
    if (pixbuf) g_object_ref(pixbuf);
    g_object_unref(loader);
    return pixbuf;
  }
  return nullptr;
}

}  // namespace gtk
}  // namespace platform
