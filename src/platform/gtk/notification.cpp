// Desktop notifications through the session bus's org.freedesktop.Notifications, and
// network changes from GIO's network monitor. Every call to the bus is asynchronous: the
// UI thread never waits for it, and the bus is first asked for at the first notification.
#include <optional>
#include <utility>

#include "platform/gtk/gtk_impl.h"

namespace platform {

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
// How long an unanswered notification holds back the next one.
constexpr int kCallTimeoutMs = 5000;

struct Notifier {
  GDBusConnection* bus = nullptr;
  bool connecting = false, calling = false;
  guint32 shown_id = 0;  // the notification a new one replaces
  std::optional<std::pair<std::string, std::string>> next;
};

Notifier& notifier() {
  static Notifier n;
  return n;
}

// The picture beside the executable when there is one, else the icon theme's entry that
// the installed package provides.
std::string icon() {
  const std::string beside = executable_directory() + "addrova.png";
  if (!file_exists(beside)) return "addrova";
  gchar* uri = g_filename_to_uri(beside.c_str(), nullptr, nullptr);
  std::string out = uri ? uri : "addrova";
  g_free(uri);
  return out;
}

GVariant* utf8(const std::string& text) {
  gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
  GVariant* v = g_variant_new_string(valid);
  g_free(valid);
  return v;
}

void send_next();

void answered(GObject* bus, GAsyncResult* result, gpointer) {
  Notifier& n = notifier();
  n.calling = false;
  if (GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, nullptr)) {
    g_variant_get(reply, "(u)", &n.shown_id);
    g_variant_unref(reply);
  }
  send_next();
}

void send_next() {
  Notifier& n = notifier();
  if (!n.bus || n.calling || !n.next) return;
  const auto [summary, body] = std::move(*n.next);
  n.next.reset();
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("addrova"));
  GVariant* args[] = {utf8(application_title()),
                      g_variant_new_uint32(n.shown_id),
                      utf8(icon()),
                      utf8(summary),
                      utf8(body),
                      g_variant_new_strv(nullptr, 0),
                      g_variant_builder_end(&hints),
                      g_variant_new_int32(-1)};
  n.calling = true;
  g_dbus_connection_call(n.bus, kService, kPath, kService, "Notify",
                         g_variant_new_tuple(args, G_N_ELEMENTS(args)), G_VARIANT_TYPE("(u)"),
                         G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, answered, nullptr);
}

void connected(GObject*, GAsyncResult* result, gpointer) {
  Notifier& n = notifier();
  n.connecting = false;
  n.bus = g_bus_get_finish(result, nullptr);
  if (!n.bus) {
    n.next.reset();  // no bus: nothing shown; the next notification asks again
    return;
  }
  // The bus going away later must not end the program, as GIO would by default.
  g_dbus_connection_set_exit_on_close(n.bus, FALSE);
  send_next();
}

std::function<void()>& network_handler() {
  static std::function<void()> fn;
  return fn;
}

void network_changed(GNetworkMonitor*, gboolean, gpointer) {
  const std::function<void()> fn = network_handler();
  gtk::invoke(fn);
}

}  // namespace

void notify(const std::string& summary, const std::string& body) {
  Notifier& n = notifier();
  n.next.emplace(summary, body);  // a newer one waiting takes the place of an older
  if (n.bus && g_dbus_connection_is_closed(n.bus)) g_clear_object(&n.bus);
  if (n.bus) {
    send_next();
  } else if (!n.connecting) {
    n.connecting = true;
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, connected, nullptr);
  }
}

void on_network_change(std::function<void()> fn) {
  static bool connected = false;
  network_handler() = std::move(fn);
  if (connected || !network_handler()) return;
  connected = true;
  g_signal_connect(g_network_monitor_get_default(), "network-changed", G_CALLBACK(network_changed),
                   nullptr);
}

}  // namespace platform
