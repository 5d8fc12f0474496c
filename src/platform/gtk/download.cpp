// URL download with libsoup, the desktop's own HTTP stack on GIO: its proxy resolver
// gives the desktop's proxy settings (an automatic configuration included), else
// http_proxy, https_proxy and no_proxy; https is verified against the system's store, and
// the TLS library is loaded only when a download needs it. The reply is collected in
// memory, up to the size limit, and written to the file only once the download has
// succeeded, so a failed download leaves an older file as it was.
//
// Each download runs on the calling thread, in a main context and a session of its own,
// and follows its redirects itself, one request at a time. A redirect is followed only
// where it stays out of the user's own machine and network (logic/ipv4_scope.h), checked
// before any connection for it is made: the session's proxy resolver is asked for every
// new connection, and ours first resolves a redirect's host here and refuses it when it
// is local, whether the connection would go to the host or to a proxy. A direct
// connection is checked again on the address it is about to connect to and once it is
// connected, before a byte of the request or a TLS handshake goes out, for a name that
// resolves differently the second time.
#include <gio/gio.h>
#include <libsoup/soup.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "logic/ipv4_scope.h"
#include "platform/gtk/own_addresses.h"
#include "platform/platform.h"

namespace platform {

namespace {

constexpr auto kUriFlags = static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS);

std::atomic<long> g_connect_ms{DownloadLimits{}.connect_timeout_ms};
std::atomic<long> g_total_ms{DownloadLimits{}.total_timeout_ms};
std::atomic<std::size_t> g_max_bytes{DownloadLimits{}.max_bytes};

// One download's state, shared by its callbacks, which all run on its thread.
struct Download {
  GCancellable* cancellable = nullptr;
  GProxyResolver* system = nullptr;  // the desktop's proxy resolver
  int hop = 0;                       // redirects followed so far
  std::string origin;                // the first host's address, dotted; empty while unknown
  bool proxied = false;              // whether the connection being made goes through a proxy
  bool answered = false;             // headers of an answer have arrived
  // The machine's own addresses, listed at the first redirect checked, so that a download
  // without one lists none.
  std::optional<std::vector<shared::IpAddress>> own;

  // Whether the request after a redirect may go to `target`.
  bool may_reach(const std::string& target) {
    if (!own) own = gtk::own_addresses();
    return shared::redirect_allowed(origin, target, *own);
  }
};

// ---- waiting for one asynchronous step ------------------------------------------------

struct Pending {
  GAsyncResult* result = nullptr;
};

void keep_result(GObject*, GAsyncResult* result, gpointer pending) {
  static_cast<Pending*>(pending)->result = G_ASYNC_RESULT(g_object_ref(result));
}

// Runs the download's context until the step has finished; the caller unrefs the result.
GAsyncResult* await(GMainContext* context, Pending& pending) {
  while (!pending.result) g_main_context_iteration(context, TRUE);
  return pending.result;
}

// ---- the proxy resolver that checks each connection's host first ------------------------

struct HopResolver {
  GObject parent;
  Download* download;
};
struct HopResolverClass {
  GObjectClass parent_class;
};
void hop_resolver_iface_init(GProxyResolverInterface* iface);
G_DEFINE_TYPE_WITH_CODE(HopResolver, hop_resolver, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(G_TYPE_PROXY_RESOLVER, hop_resolver_iface_init))
void hop_resolver_init(HopResolver*) {}
void hop_resolver_class_init(HopResolverClass*) {}

// One lookup: the host's IPv4 addresses when they matter, then the system's proxies.
struct Lookup {
  GTask* task;
  Download* download;
  std::string uri;
  std::string host;
  gchar** proxies = nullptr;
};

void finish_lookup(Lookup* lookup, GError* error) {
  if (error) {
    g_task_return_error(lookup->task, error);
  } else {
    g_task_return_pointer(lookup->task, lookup->proxies,
                          reinterpret_cast<GDestroyNotify>(g_strfreev));
    lookup->proxies = nullptr;
  }
  g_strfreev(lookup->proxies);
  g_object_unref(lookup->task);
  delete lookup;
}

GError* refusal(const std::string& host) {
  return g_error_new(G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED, "redirect to %s refused",
                     host.c_str());
}

// Calls `next` with the host's IPv4 addresses (none when it is not an IPv4 name).
void resolve_host(Lookup* lookup, void (*next)(Lookup*, const std::vector<std::string>&)) {
  if (shared::parse_ipv4(lookup->host)) return next(lookup, {lookup->host});
  if (g_hostname_is_ip_address(lookup->host.c_str())) return next(lookup, {});
  struct Call {
    Lookup* lookup;
    void (*next)(Lookup*, const std::vector<std::string>&);
  };
  g_resolver_lookup_by_name_with_flags_async(
      g_resolver_get_default(), lookup->host.c_str(), G_RESOLVER_NAME_LOOKUP_FLAGS_IPV4_ONLY,
      g_task_get_cancellable(lookup->task),
      [](GObject* resolver, GAsyncResult* result, gpointer data) {
        const Call call = *static_cast<Call*>(data);
        delete static_cast<Call*>(data);
        std::vector<std::string> addresses;
        GList* list =
            g_resolver_lookup_by_name_with_flags_finish(G_RESOLVER(resolver), result, nullptr);
        for (GList* i = list; i; i = i->next) {
          gchar* text = g_inet_address_to_string(G_INET_ADDRESS(i->data));
          addresses.emplace_back(text);
          g_free(text);
        }
        g_resolver_free_addresses(list);
        call.next(call.lookup, addresses);
      },
      new Call{lookup, next});
}

void after_origin(Lookup* lookup, const std::vector<std::string>& addresses) {
  lookup->download->origin = addresses.empty() ? "" : addresses.front();
  finish_lookup(lookup, nullptr);
}

void after_system(GObject* resolver, GAsyncResult* result, gpointer data) {
  auto* lookup = static_cast<Lookup*>(data);
  GError* error = nullptr;
  lookup->proxies = g_proxy_resolver_lookup_finish(G_PROXY_RESOLVER(resolver), result, &error);
  if (!lookup->proxies) return finish_lookup(lookup, error);
  Download& d = *lookup->download;
  d.proxied = !lookup->proxies[0] || g_strcmp0(lookup->proxies[0], "direct://") != 0;
  // Through a proxy the first connection reaches the proxy, so the origin is the first
  // host as it resolves here.
  if (d.hop == 0 && d.proxied) return resolve_host(lookup, after_origin);
  finish_lookup(lookup, nullptr);
}

void ask_system(Lookup* lookup) {
  g_proxy_resolver_lookup_async(lookup->download->system, lookup->uri.c_str(),
                                g_task_get_cancellable(lookup->task), after_system, lookup);
}

void after_target(Lookup* lookup, const std::vector<std::string>& addresses) {
  bool allowed = !addresses.empty();
  for (const auto& a : addresses) allowed = allowed && lookup->download->may_reach(a);
  if (!allowed) return finish_lookup(lookup, refusal(lookup->host));
  ask_system(lookup);
}

void hop_lookup_async(GProxyResolver* self, const gchar* uri, GCancellable* cancellable,
                      GAsyncReadyCallback callback, gpointer user_data) {
  auto* lookup = new Lookup{g_task_new(self, cancellable, callback, user_data),
                            reinterpret_cast<HopResolver*>(self)->download,
                            uri,
                            {}};
  if (GUri* parsed = g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr)) {
    lookup->host = g_uri_get_host(parsed) ? g_uri_get_host(parsed) : "";
    g_uri_unref(parsed);
  }
  if (lookup->download->hop > 0) return resolve_host(lookup, after_target);
  ask_system(lookup);
}

gchar** hop_lookup_finish(GProxyResolver*, GAsyncResult* result, GError** error) {
  return static_cast<gchar**>(g_task_propagate_pointer(G_TASK(result), error));
}

// GIO asks asynchronously; a blocking lookup gets the system's answer unchecked, and the
// address it reaches is checked at the connection.
gchar** hop_lookup(GProxyResolver* self, const gchar* uri, GCancellable* cancellable,
                   GError** error) {
  return g_proxy_resolver_lookup(reinterpret_cast<HopResolver*>(self)->download->system, uri,
                                 cancellable, error);
}

void hop_resolver_iface_init(GProxyResolverInterface* iface) {
  iface->lookup = hop_lookup;
  iface->lookup_async = hop_lookup_async;
  iface->lookup_finish = hop_lookup_finish;
}

// ---- the connections ----------------------------------------------------------------------

std::string remote_address(GIOStream* stream) {
  std::string out;
  if (!G_IS_SOCKET_CONNECTION(stream)) return out;
  GSocketAddress* address =
      g_socket_connection_get_remote_address(G_SOCKET_CONNECTION(stream), nullptr);
  if (address && G_IS_INET_SOCKET_ADDRESS(address)) {
    gchar* text =
        g_inet_address_to_string(g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(address)));
    out = text;
    g_free(text);
  }
  if (address) g_object_unref(address);
  return out;
}

// Downloads stay on IPv4: a socket of another family is closed before it connects, and
// the connection goes on with the next address. A direct connection for a redirect is
// checked on the address it is about to connect to (GIO names it before connecting) and
// again once connected; one the download may not reach is closed before a byte is sent.
// The first direct connection gives the origin.
void on_network_event(SoupMessage*, GSocketClientEvent event, GIOStream* stream, gpointer data) {
  auto& d = *static_cast<Download*>(data);
  if (!G_IS_SOCKET_CONNECTION(stream)) return;
  if (event != G_SOCKET_CLIENT_CONNECTING && event != G_SOCKET_CLIENT_CONNECTED) return;
  GSocket* socket = g_socket_connection_get_socket(G_SOCKET_CONNECTION(stream));
  if (g_socket_get_family(socket) != G_SOCKET_FAMILY_IPV4) {
    g_socket_close(socket, nullptr);
    return;
  }
  if (d.proxied) return;
  const std::string address = remote_address(stream);
  if (d.hop == 0) {
    if (event == G_SOCKET_CLIENT_CONNECTED) d.origin = address;
  } else if (!address.empty() || event == G_SOCKET_CLIENT_CONNECTED) {
    if (!d.may_reach(address)) {
      g_socket_close(socket, nullptr);
      g_cancellable_cancel(d.cancellable);
    }
  }
}

void on_got_headers(SoupMessage*, gpointer data) {
  static_cast<Download*>(data)->answered = true;
}

gboolean on_connect_limit(gpointer data) {
  auto& d = *static_cast<Download*>(data);
  if (!d.answered) g_cancellable_cancel(d.cancellable);
  return G_SOURCE_REMOVE;
}

gboolean on_total_limit(gpointer data) {
  g_cancellable_cancel(static_cast<Download*>(data)->cancellable);
  return G_SOURCE_REMOVE;
}

GSource* add_timeout(GMainContext* context, long ms, GSourceFunc fn, Download& d) {
  GSource* source = g_timeout_source_new(static_cast<guint>(ms > 0 ? ms : 0));
  g_source_set_callback(source, fn, &d, nullptr);
  g_source_attach(source, context);
  return source;
}

// GUri gives the scheme in lower case.
bool http_scheme(GUri* uri) {
  const char* scheme = g_uri_get_scheme(uri);
  return scheme && shared::followed_scheme(scheme);
}

bool is_redirect(guint status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The body, up to max_bytes; false when reading it failed.
bool read_body(GMainContext* context, GInputStream* in, Download& d, std::string& body,
               std::size_t max_bytes) {
  char chunk[16384];
  while (body.size() < max_bytes) {
    Pending pending;
    g_input_stream_read_async(in, chunk, std::min(sizeof chunk, max_bytes - body.size()),
                              G_PRIORITY_DEFAULT, d.cancellable, keep_result, &pending);
    GAsyncResult* result = await(context, pending);
    const gssize n = g_input_stream_read_finish(in, result, nullptr);
    g_object_unref(result);
    if (n < 0) return false;
    if (n == 0) break;
    body.append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}

// Asks for `uri` and follows its redirects; true with the body of a final answer below 400.
// `reply` gets the status and Retry-After of each answer in turn.
bool fetch(GMainContext* context, SoupSession* session, GUri* first, Download& d, std::string& body,
           DownloadReply& reply) {
  GUri* uri = g_uri_ref(first);
  bool ok = false;
  for (;;) {
    if (!http_scheme(uri)) break;
    // "GET" as it is: SOUP_METHOD_GET fills a shared static on first use, which two
    // downloads at once would race for. The message interns the name itself.
    SoupMessage* message = soup_message_new_from_uri("GET", uri);
    soup_message_add_flags(message, SOUP_MESSAGE_NO_REDIRECT);
    g_signal_connect(message, "network-event", G_CALLBACK(on_network_event), &d);
    g_signal_connect(message, "got-headers", G_CALLBACK(on_got_headers), &d);
    // Every request, the one after a redirect too, has the connect limit for the start of
    // its answer; the body then has what is left of the total limit.
    d.answered = false;
    GSource* connect_limit = add_timeout(context, g_connect_ms, on_connect_limit, d);
    Pending pending;
    soup_session_send_async(session, message, G_PRIORITY_DEFAULT, d.cancellable, keep_result,
                            &pending);
    GAsyncResult* result = await(context, pending);
    g_source_destroy(connect_limit);
    g_source_unref(connect_limit);
    GInputStream* in = soup_session_send_finish(session, result, nullptr);
    g_object_unref(result);
    const guint status = in ? soup_message_get_status(message) : 0;
    SoupMessageHeaders* headers = soup_message_get_response_headers(message);
    const char* location = soup_message_headers_get_one(headers, "Location");
    const char* retry_after = soup_message_headers_get_one(headers, "Retry-After");
    reply.status = static_cast<int>(status);
    reply.retry_after = in && retry_after ? retry_after : "";
    GUri* next = in && is_redirect(status) && location
                     ? g_uri_parse_relative(uri, location, kUriFlags, nullptr)
                     : nullptr;
    if (in && !next) ok = status < 400 && read_body(context, in, d, body, g_max_bytes);
    if (in) g_object_unref(in);
    g_object_unref(message);
    g_uri_unref(uri);
    uri = next;
    if (!uri || ++d.hop > shared::kMaxRedirects) break;
  }
  if (uri) g_uri_unref(uri);
  return ok;
}

}  // namespace

void set_download_limits(const DownloadLimits& limits) {
  g_connect_ms = limits.connect_timeout_ms;
  g_total_ms = limits.total_timeout_ms;
  g_max_bytes = limits.max_bytes;
}

bool download_to_file(const std::string& url, const std::string& path, DownloadReply* reply) {
  DownloadReply unused;
  DownloadReply& answer = reply ? *reply : unused;
  answer = {};
  GUri* uri = g_uri_parse(url.c_str(), kUriFlags, nullptr);
  if (!uri) return false;
  Download d;
  // Taken before the download's own context is pushed: the desktop's resolver follows
  // changes of its settings through the context current when it was made, which has to
  // be one that keeps running.
  d.system = g_proxy_resolver_get_default();
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  d.cancellable = g_cancellable_new();
  auto* resolver = static_cast<HopResolver*>(g_object_new(hop_resolver_get_type(), nullptr));
  resolver->download = &d;
  SoupSession* session = soup_session_new_with_options("user-agent", "Addrova/1.0",
                                                       "proxy-resolver", resolver, nullptr);
  // The answer byte for byte, as the server sent it.
  soup_session_remove_feature_by_type(session, SOUP_TYPE_CONTENT_DECODER);
  GSource* total_limit = add_timeout(context, g_total_ms, on_total_limit, d);

  std::string body;
  const bool ok = fetch(context, session, uri, d, body, answer);

  g_source_destroy(total_limit);
  g_source_unref(total_limit);
  soup_session_abort(session);
  g_object_unref(session);
  g_object_unref(resolver);
  while (g_main_context_iteration(context, FALSE)) {
  }
  g_object_unref(d.cancellable);
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  g_uri_unref(uri);
  // Replaced whole, a symbolic link at the path included: never written through.
  return ok && g_file_set_contents_full(path.c_str(), body.data(), static_cast<gssize>(body.size()),
                                        G_FILE_SET_CONTENTS_CONSISTENT, 0600, nullptr);
}

}  // namespace platform
