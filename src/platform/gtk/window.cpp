// Top-level windows: a fixed-size client area in which controls sit at pixel positions.
#include "platform/gtk/gtk_impl.h"

namespace platform {

namespace {

Window* g_main_window = nullptr;

gboolean on_delete(GtkWidget*, GdkEvent*, gpointer data) {
  auto* w = static_cast<Window::Impl*>(data);
  if (w->kind == Window::Kind::Main) {
    // Like a disabled owner window, the main window cannot close under a modal dialog.
    bool modal_open = false;
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l; l = l->next)
      modal_open |=
          gtk_window_get_modal(GTK_WINDOW(l->data)) && gtk_widget_get_visible(GTK_WIDGET(l->data));
    g_list_free(all);
    if (modal_open) return TRUE;
    gtk_main_quit();
    return TRUE;
  }
  // The title-bar close only hides a dialog and ends its modal loop.
  gtk_widget_hide(w->window);
  if (w->modal_loop) g_main_loop_quit(w->modal_loop);
  return TRUE;
}

}  // namespace

Window::Window(Kind kind, const std::string& title, int client_width, int client_height)
    : impl_(std::make_unique<Impl>()) {
  Impl& w = *impl_;
  w.kind = kind;
  w.client_width = client_width;
  w.client_height = client_height;
  w.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(w.window);
  gtk_window_set_title(GTK_WINDOW(w.window), title.c_str());
  gtk_window_set_resizable(GTK_WINDOW(w.window), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(w.window), GDK_WINDOW_TYPE_HINT_DIALOG);
  w.fixed = gtk_fixed_new();
  gtk_widget_set_size_request(w.fixed, client_width, client_height);
  gtk_container_add(GTK_CONTAINER(w.window), w.fixed);
  g_signal_connect(w.window, "delete-event", G_CALLBACK(on_delete), &w);
  if (kind == Kind::Main) {
    g_main_window = this;
    if (GdkPixbuf* icon = gtk::load_picture("addrova")) {
      gtk_window_set_default_icon(icon);
      g_object_unref(icon);
    }
  } else {
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(w.window), TRUE);
    gtk_window_set_modal(GTK_WINDOW(w.window), TRUE);
  }
}

Window::~Window() {
  if (g_main_window == this) g_main_window = nullptr;
  gtk_widget_destroy(impl_->window);
  g_object_unref(impl_->window);
}

std::string Window::title() const {
  return gtk_window_get_title(GTK_WINDOW(impl_->window));
}

void Window::set_title(const std::string& title) {
  gtk_window_set_title(GTK_WINDOW(impl_->window), title.c_str());
}

void Window::on_show(std::function<void()> handler) {
  impl_->on_show = std::move(handler);
}

void Window::show_modal() {
  Impl& w = *impl_;
  if (w.modal_loop) return;
  if (Window* main = gtk::main_window(); main && main != this)
    gtk_window_set_transient_for(GTK_WINDOW(w.window), GTK_WINDOW(main->impl().window));
  if (w.on_show) gtk::invoke(w.on_show);
  // Centred on the display every time it shows, wherever it was moved to before. GTK
  // takes a position set while hidden only for the first showing, so the dialog is moved
  // again once shown.
  const auto centre = [this] {
    int width = 0, height = 0;
    if (!display_mode(width, height)) return;
    const Rect r = outer_rect();
    move((width - (r.right - r.left)) / 2, (height - (r.bottom - r.top)) / 2);
  };
  centre();
  gtk_widget_show_all(w.window);
  centre();
  gtk_window_present(GTK_WINDOW(w.window));
  w.modal_loop = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(w.modal_loop);
  g_main_loop_unref(w.modal_loop);
  w.modal_loop = nullptr;
  gtk_widget_hide(w.window);
}

void Window::end_modal() {
  gtk_widget_hide(impl_->window);
  if (impl_->modal_loop) g_main_loop_quit(impl_->modal_loop);
}

bool Window::visible() const {
  return gtk_widget_get_visible(impl_->window);
}

// The frame's rectangle once the window manager has framed the window, else the client
// area's, as no frame is known yet.
Rect Window::outer_rect() const {
  const Impl& w = *impl_;
  GdkWindow* gw = gtk_widget_get_window(w.window);
  if (gw && gtk_widget_get_mapped(w.window)) {
    GdkRectangle r;
    gdk_window_get_frame_extents(gw, &r);
    return {r.x, r.y, r.x + r.width, r.y + r.height};
  }
  int x = 0, y = 0;
  gtk_window_get_position(GTK_WINDOW(w.window), &x, &y);
  return {x, y, x + w.client_width, y + w.client_height};
}

// Anchors the frame's bottom-right corner, so the window lands where asked even when the
// window manager adds a frame of a size not known before the window is shown.
void Window::move(int left, int top) {
  const Impl& w = *impl_;
  const Rect r = outer_rect();
  const int right = left + (r.right - r.left), bottom = top + (r.bottom - r.top);
  gtk_window_set_gravity(GTK_WINDOW(w.window), GDK_GRAVITY_SOUTH_EAST);
  gtk_window_move(GTK_WINDOW(w.window), right - w.client_width, bottom - w.client_height);
}

namespace gtk {

Window* main_window() {
  return g_main_window;
}

void place(Window& parent, GtkWidget* widget, Geometry g, bool takes_focus) {
  Window::Impl& w = parent.impl();
  gtk_widget_set_size_request(widget, g.width, g.height);
  gtk_fixed_put(GTK_FIXED(w.fixed), widget, g.left, g.top);
  // A box of several widgets passes the focus on to its children.
  if (!GTK_IS_BOX(widget)) gtk_widget_set_can_focus(widget, takes_focus);
  if (takes_focus) {
    // Tab moves through the controls in the order they were made.
    w.focus_chain.push_back(widget);
    GList* chain = nullptr;
    for (GtkWidget* c : w.focus_chain) chain = g_list_append(chain, c);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_set_focus_chain(GTK_CONTAINER(w.fixed), chain);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_list_free(chain);
  }
}

void set_font(GtkWidget* widget, int font_height) {
  if (font_height == kDefaultFontHeight) return;
  const std::string css =
      "* { font-size: " + std::to_string(font_height < 0 ? -font_height : font_height) + "px; }";
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
  g_object_unref(provider);
}

}  // namespace gtk
}  // namespace platform
