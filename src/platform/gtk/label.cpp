#include <algorithm>

#include "platform/gtk/gtk_impl.h"

namespace platform {

namespace {

// Full-width characters of the stand-in font run wider than those the layout was made
// for; a text that would overflow its label is set up to 2 pixels a character tighter.
void fit_width(GtkLabel* label, int width) {
  PangoLayout* layout = gtk_label_get_layout(label);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  const int chars = pango_layout_get_character_count(layout);
  if (w <= width || chars < 2) return;
  const int squeeze = std::min(2, (w - width + chars - 1) / chars);
  PangoAttrList* attrs = pango_attr_list_new();
  pango_attr_list_insert(attrs, pango_attr_letter_spacing_new(-squeeze * PANGO_SCALE));
  gtk_label_set_attributes(label, attrs);
  pango_attr_list_unref(attrs);
}

std::unique_ptr<Control::Impl> make_label(Window& parent, Geometry g, const std::string& text,
                                          int font_height) {
  auto impl = std::make_unique<Control::Impl>();
  impl->widget = gtk_label_new(text.c_str());
  gtk_label_set_xalign(GTK_LABEL(impl->widget), 0.0f);
  gtk_label_set_yalign(GTK_LABEL(impl->widget), 0.0f);
  gtk::set_font(impl->widget, font_height);
  gtk::place(parent, impl->widget, g, false);
  fit_width(GTK_LABEL(impl->widget), g.width);
  return impl;
}

}  // namespace

Label::Label(Window& parent, Geometry g, const std::string& text, int font_height)
    : Control(make_label(parent, g, text, font_height)) {}

}  // namespace platform
