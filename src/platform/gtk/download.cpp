// URL download with libcurl. The reply is collected in memory, up to the size limit, and
// written to the file only once the download has succeeded, so a failed download leaves
// an older file as it was.
//
// Redirects are followed only where they stay out of the user's own machine and network
// (shared/ipv4_scope.h). libcurl calls the check with the address it is connected to
// before each request goes out, the first time for the URL we were given and then once
// for every redirect, a reused connection included; a refusal ends the download before
// the refused address receives a byte of the request.
#include <curl/curl.h>
#include <glib.h>

#include <atomic>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "shared/ipv4_scope.h"

namespace platform {

namespace {

std::atomic<long> g_connect_ms{DownloadLimits{}.connect_timeout_ms};
std::atomic<long> g_total_ms{DownloadLimits{}.total_timeout_ms};
std::atomic<std::size_t> g_max_bytes{DownloadLimits{}.max_bytes};

struct Sink {
  std::string body;
  std::size_t max_bytes;
  bool cut = false;
};

// Returning less than was offered makes libcurl stop the transfer: done once the limit
// is reached, since only the first line of the reply counts.
std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
  auto& sink = *static_cast<Sink*>(user);
  const std::size_t n = size * count;
  const std::size_t room = sink.max_bytes - sink.body.size();
  if (n > room) {
    sink.body.append(data, room);
    sink.cut = true;
    return 0;
  }
  sink.body.append(data, n);
  return n;
}

// The address of the first connection, against which every later request is checked.
// Through a proxy that address is the proxy's for every request, so the rule holds only
// as far as the proxy does.
struct Hops {
  int requests = 0;
  std::string origin;
};

int check_hop(void* user, char* remote_ip, char*, int, int) {
  auto& hops = *static_cast<Hops*>(user);
  if (hops.requests++ == 0) {
    hops.origin = remote_ip ? remote_ip : "";
    return CURL_PREREQFUNC_OK;
  }
  return remote_ip && shared::redirect_allowed(hops.origin, remote_ip) ? CURL_PREREQFUNC_OK
                                                                       : CURL_PREREQFUNC_ABORT;
}

}  // namespace

void set_download_limits(const DownloadLimits& limits) {
  g_connect_ms = limits.connect_timeout_ms;
  g_total_ms = limits.total_timeout_ms;
  g_max_bytes = limits.max_bytes;
}

bool download_to_file(const std::string& url, const std::string& path) {
  static std::once_flag curl_ready;
  std::call_once(curl_ready, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CURL* curl = curl_easy_init();
  if (!curl) return false;
  Sink sink{{}, g_max_bytes};
  Hops hops;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, check_hop);
  curl_easy_setopt(curl, CURLOPT_PREREQDATA, &hops);
  curl_easy_setopt(curl, CURLOPT_IPRESOLVE, CURL_IPRESOLVE_V4);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, g_connect_ms.load());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, g_total_ms.load());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Addrova/1.0");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  const CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  const bool ok = (rc == CURLE_OK || (rc == CURLE_WRITE_ERROR && sink.cut)) && status < 400;
  // Replaced whole, a symbolic link at the path included: never written through.
  return ok && g_file_set_contents_full(path.c_str(), sink.body.data(),
                                        static_cast<gssize>(sink.body.size()),
                                        G_FILE_SET_CONTENTS_CONSISTENT, 0600, nullptr);
}

}  // namespace platform
