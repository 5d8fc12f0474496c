#include "platform/gtk/gtk_impl.h"

namespace platform {

void clipboard_set_text(const std::string& text) {
  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), text.c_str(),
                         static_cast<gint>(text.size()));
}

std::string clipboard_text() {
  gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  std::string result = text ? text : "";
  g_free(text);
  return result;
}

}  // namespace platform
