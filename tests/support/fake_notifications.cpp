#include "fake_notifications.h"

#include <gio/gio.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace test {

namespace {

constexpr char kName[] = "org.freedesktop.Notifications";
constexpr char kInterface[] = R"(<node><interface name="org.freedesktop.Notifications">
  <method name="Notify">
    <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
    <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
    <arg type="u" direction="out"/>
  </method>
  <method name="GetCapabilities"><arg type="as" direction="out"/></method>
  <method name="CloseNotification"><arg type="u" direction="in"/></method>
  <method name="GetServerInformation">
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
  </method>
</interface></node>)";

}  // namespace

struct FakeNotifications::State {
  mutable std::mutex mutex;
  std::vector<Call> calls;
  bool answering = true;
  std::uint32_t next_id = 0;
  GDBusConnection* bus = nullptr;
  GMainContext* context = nullptr;
};

namespace {

void on_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
             GVariant* args, GDBusMethodInvocation* invocation, gpointer data) {
  auto& s = *static_cast<FakeNotifications::State*>(data);
  const std::string name = method;
  if (name == "GetCapabilities") {
    const gchar* caps[] = {"body", nullptr};
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", caps));
  } else if (name == "GetServerInformation") {
    g_dbus_method_invocation_return_value(invocation,
                                          g_variant_new("(ssss)", "fake", "test", "1", "1.2"));
  } else if (name == "CloseNotification") {
    g_dbus_method_invocation_return_value(invocation, nullptr);
  } else {
    const gchar *app, *icon, *summary, *body;
    guint32 replaces = 0;
    g_variant_get(args, "(&su&s&s&s@as@a{sv}i)", &app, &replaces, &icon, &summary, &body, nullptr,
                  nullptr, nullptr);
    std::lock_guard lock(s.mutex);
    FakeNotifications::Call call{app, icon, summary, body, replaces, 0};
    if (s.answering) {
      call.id = replaces ? replaces : ++s.next_id;
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", call.id));
    } else {
      g_object_ref(invocation);  // never answered; kept, as a hung service would
    }
    s.calls.push_back(call);
  }
}

}  // namespace

FakeNotifications& FakeNotifications::get() {
  static FakeNotifications* service = new FakeNotifications;  // lives as long as the process
  return *service;
}

FakeNotifications::FakeNotifications() : state_(new State) {
  const gchar* argv[] = {"dbus-daemon", "--session", "--nofork", "--print-address", nullptr};
  gint out = -1;
  GError* error = nullptr;
  // The daemon ends with the test process, not before: a bus closing under a connection
  // ends a program whose connection GIO set to exit on close. Its warnings (as that it
  // could not raise its limit of open files) are dropped; a daemon that did not start
  // prints no address.
  const GSpawnChildSetupFunc end_with_parent = [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); };
  if (!g_spawn_async_with_pipes(
          nullptr, const_cast<gchar**>(argv), nullptr,
          GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDERR_TO_DEV_NULL),
          end_with_parent, nullptr, nullptr, nullptr, &out, nullptr, &error)) {
    why_not_ = std::string("dbus-daemon: ") + error->message;
    g_error_free(error);
    return;
  }
  std::string address;
  for (char c; read(out, &c, 1) == 1 && c != '\n';) address += c;
  close(out);
  if (address.empty()) {
    why_not_ = "dbus-daemon printed no address";
    return;
  }
  state_->bus = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                           G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (!state_->bus) {
    why_not_ = std::string("connecting to the bus: ") + error->message;
    g_error_free(error);
    return;
  }
  g_dbus_connection_set_exit_on_close(state_->bus, FALSE);
  // The calls are served on a thread and a main context of their own, so that the test's
  // UI thread waits for none of it.
  std::mutex m;
  std::condition_variable cv;
  bool ready = false;
  std::thread([this, &m, &cv, &ready] {
    state_->context = g_main_context_new();
    g_main_context_push_thread_default(state_->context);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
    static const GDBusInterfaceVTable vtable = {on_call, nullptr, nullptr, {}};
    g_dbus_connection_register_object(state_->bus, "/org/freedesktop/Notifications",
                                      node->interfaces[0], &vtable, state_, nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        state_->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", kName, 4u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    guint32 owner = 0;
    if (reply) g_variant_get(reply, "(u)", &owner);
    if (reply) g_variant_unref(reply);
    {
      std::lock_guard lock(m);
      if (owner != 1) why_not_ = "could not own " + std::string(kName);
      ready = true;
      cv.notify_one();
    }
    GMainLoop* loop = g_main_loop_new(state_->context, FALSE);
    g_main_loop_run(loop);
  }).detach();
  std::unique_lock lock(m);
  cv.wait(lock, [&] { return ready; });
  if (why_not_.empty()) setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}

std::vector<FakeNotifications::Call> FakeNotifications::calls() const {
  std::lock_guard lock(state_->mutex);
  return state_->calls;
}

void FakeNotifications::clear() {
  std::lock_guard lock(state_->mutex);
  state_->calls.clear();
}

void FakeNotifications::set_answering(bool on) {
  std::lock_guard lock(state_->mutex);
  state_->answering = on;
}

void FakeNotifications::release_name() {
  GVariant* reply = g_dbus_connection_call_sync(
      state_->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "ReleaseName", g_variant_new("(s)", kName), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1,
      nullptr, nullptr);
  if (reply) g_variant_unref(reply);
}

}  // namespace test
