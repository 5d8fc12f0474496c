// A path box with a browse button that opens the Save dialog.
#include <filesystem>

#include "platform/gtk/gtk_impl.h"

namespace platform {

namespace {

struct FileNameData {
  Control::Impl* control;
  std::string filter;       // "Name|pattern|Name|pattern"
  std::string default_ext;  // "*.txt" or "txt"
};

std::vector<std::string> split_filter(const std::string& filter) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t bar; (bar = filter.find('|', start)) != std::string::npos; start = bar + 1)
    parts.push_back(filter.substr(start, bar - start));
  parts.push_back(filter.substr(start));
  return parts;
}

// The path in the box: the one the program set while the user has not edited it, which
// may be any bytes a file name can be, else the box's text.
std::string path_in(const Control::Impl& c) {
  return c.path ? *c.path : gtk_entry_get_text(GTK_ENTRY(c.entry));
}

// The box shows the path with bytes that are not UTF-8 replaced, and keeps the path itself.
void set_path(Control::Impl& c, const std::string& path) {
  gchar* shown = g_utf8_make_valid(path.c_str(), -1);
  gtk::set_text_unfiltered(c, shown);
  g_free(shown);
  c.path = path;
}

void on_changed(GtkEditable*, gpointer data) {
  static_cast<Control::Impl*>(data)->path.reset();
}

// The dialog opens in the folder of the path already in the box, with its file name, and
// adds the default extension to a chosen name that has none. The chosen path is taken
// whole, like a stored one: the length limit is for typing.
void on_browse(GtkButton* button, gpointer data) {
  auto& d = *static_cast<FileNameData*>(data);
  GtkWidget* dialog =
      gtk_file_chooser_dialog_new(nullptr, GTK_WINDOW(gtk_widget_get_toplevel(GTK_WIDGET(button))),
                                  GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel", GTK_RESPONSE_CANCEL,
                                  "_Save", GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
  const std::vector<std::string> parts = split_filter(d.filter);
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    GtkFileFilter* f = gtk_file_filter_new();
    gtk_file_filter_set_name(f, parts[i].c_str());
    gtk_file_filter_add_pattern(f, parts[i + 1].c_str());
    gtk_file_chooser_add_filter(chooser, f);
  }
  const std::filesystem::path current(path_in(*d.control));
  if (current.has_parent_path())
    gtk_file_chooser_set_current_folder(chooser, current.parent_path().c_str());
  // The folder is a file name, the name in the dialog's entry UTF-8 text.
  gchar* shown = g_utf8_make_valid(current.filename().c_str(), -1);
  gtk_file_chooser_set_current_name(chooser, shown);
  g_free(shown);
  if (const std::optional<std::string> name = gtk::run_save_dialog(chooser)) {
    std::filesystem::path chosen(*name);
    std::string ext = d.default_ext;
    if (ext.rfind("*.", 0) == 0) ext.erase(0, 2);
    if (!chosen.has_extension() && !ext.empty()) chosen += "." + ext;
    set_path(*d.control, chosen.string());
  }
  gtk_widget_destroy(dialog);
}

// The length limit holds for typing and pasting only; a longer path set by the program is
// kept whole, not cut, so that saving it back loses nothing.
void on_insert(GtkEditable* editable, const gchar* text, gint length, gint*, gpointer data) {
  const auto& c = *static_cast<Control::Impl*>(data);
  const glong have = g_utf8_strlen(gtk_entry_get_text(GTK_ENTRY(editable)), -1);
  const glong add = g_utf8_strlen(text, length);
  int start = 0, end = 0;
  const glong selected =
      gtk_editable_get_selection_bounds(editable, &start, &end) ? end - start : 0;
  if (have - selected + add <= c.max_length) return;
  beep();
  g_signal_stop_emission_by_name(editable, "insert-text");
}

void free_data(gpointer data, GClosure*) {
  delete static_cast<FileNameData*>(data);
}

std::unique_ptr<Control::Impl> make_file_edit(Window& parent, Geometry g, int max_length,
                                              const std::string& filter,
                                              const std::string& default_ext) {
  auto impl = std::make_unique<Control::Impl>();
  impl->entry = gtk_entry_new();
  gtk_entry_set_width_chars(GTK_ENTRY(impl->entry), 1);
  impl->max_length = max_length;
  g_signal_connect(impl->entry, "insert-text", G_CALLBACK(on_insert), impl.get());
  g_signal_connect(impl->entry, "changed", G_CALLBACK(on_changed), impl.get());
  GtkWidget* browse = gtk_button_new_from_icon_name("document-open-symbolic", GTK_ICON_SIZE_MENU);
  gtk_widget_set_size_request(browse, g.height, g.height);
  gtk_widget_set_tooltip_text(browse, "参照");
  atk_object_set_name(gtk_widget_get_accessible(browse), "参照");
  g_signal_connect_data(browse, "clicked", G_CALLBACK(on_browse),
                        new FileNameData{impl.get(), filter, default_ext}, free_data,
                        GConnectFlags(0));
  impl->widget = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_box_pack_start(GTK_BOX(impl->widget), impl->entry, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(impl->widget), browse, FALSE, FALSE, 0);
  gtk::place(parent, impl->widget, g, true);
  return impl;
}

}  // namespace

std::function<std::optional<std::string>(GtkFileChooser*)> gtk::run_save_dialog =
    [](GtkFileChooser* chooser) -> std::optional<std::string> {
  if (gtk_dialog_run(GTK_DIALOG(chooser)) != GTK_RESPONSE_ACCEPT) return std::nullopt;
  gchar* name = gtk_file_chooser_get_filename(chooser);
  if (!name) return std::nullopt;
  std::string chosen = name;
  g_free(name);
  return chosen;
};

FileNameEdit::FileNameEdit(Window& parent, Geometry g, int max_length, const std::string& filter,
                           const std::string& default_ext)
    : Control(make_file_edit(parent, g, max_length, filter, default_ext)) {}

std::string FileNameEdit::text() const {
  return path_in(*impl_);
}

void FileNameEdit::set_text(const std::string& text) {
  set_path(*impl_, text);
}

}  // namespace platform
