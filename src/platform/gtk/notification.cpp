// Desktop notifications through the session bus's org.freedesktop.Notifications, and
// network changes from GIO's network monitor. Every call to the bus is asynchronous: the
// UI thread never waits for it, and the bus is first asked for at the first notification.
#include <ifaddrs.h>
#include <netinet/in.h>

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

std::string& network_seen() {
  static std::string state;
  return state;
}

// GIO's monitor reports every route it sees come or go, and again after reading the tables
// anew, which it does about a second after a change. The address looked up is IPv4, so a
// report that leaves its routes and addresses as they were is no change here: so are the
// IPv6 link-local addresses that come a second or two after a link does, which would
// otherwise make a second lookup.
void network_changed(GNetworkMonitor*, gboolean, gpointer) {
  if (!network_handler()) return;
  std::string now = gtk::network_state();
  if (now == network_seen()) return;
  network_seen() = std::move(now);
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
  if (!network_handler()) return;
  network_seen() = gtk::network_state();
  if (connected) return;
  connected = true;
  g_signal_connect(g_network_monitor_get_default(), "network-changed", G_CALLBACK(network_changed),
                   nullptr);
}

namespace gtk {

std::function<std::string()> network_state = [] {
  std::string state;
  gchar* routes = nullptr;
  if (g_file_get_contents("/proc/net/route", &routes, nullptr, nullptr)) state = routes;
  g_free(routes);
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return state;
  for (const ifaddrs* a = all; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    const auto bits = [](const sockaddr* s) {
      return s ? reinterpret_cast<const sockaddr_in*>(s)->sin_addr.s_addr : 0u;
    };
    state += std::string(a->ifa_name) + ' ' + std::to_string(bits(a->ifa_addr)) + '/' +
             std::to_string(bits(a->ifa_netmask)) + '\n';
  }
  freeifaddrs(all);
  return state;
};

}  // namespace gtk
}  // namespace platform
