#include "Unit1/retrieval.h"

#include <chrono>
#include <map>
#include <mutex>

#include "Unit1/endpoints.h"
#include "logic/first_line.h"
#include "logic/retry_after.h"
#include "logic/texts.h"
#include "platform/platform.h"

namespace unit1 {

namespace {

// Never destroyed, for workers that outlive main().
std::mutex& endpoints_lock = *new std::mutex;
Endpoints& endpoints = *new Endpoints{kEndpointA, kEndpointB};

// The endpoints that asked to be left alone, each with the moment until which automatic
// lookups pass it over; shared by every lookup of the process.
using Clock = std::chrono::steady_clock;
std::mutex& waits_lock = *new std::mutex;
std::map<std::string, Clock::time_point>& not_before =
    *new std::map<std::string, Clock::time_point>;

bool waiting(const std::string& url) {
  std::lock_guard<std::mutex> hold(waits_lock);
  const auto it = not_before.find(url);
  if (it == not_before.end()) return false;
  if (Clock::now() < it->second) return true;
  not_before.erase(it);
  return false;
}

// A 429 or 503 answer with a Retry-After keeps automatic lookups away from the endpoint for
// as long as it asks, at most an hour; a later such answer replaces the earlier wait.
void heed(const std::string& url, const platform::DownloadReply& reply) {
  if (!shared::asks_to_wait(reply.status)) return;
  const auto delay = shared::retry_after_delay(reply.retry_after, std::chrono::system_clock::now());
  if (!delay) return;
  std::lock_guard<std::mutex> hold(waits_lock);
  not_before[url] = Clock::now() + *delay;
}

}  // namespace

Endpoints LookupEndpoints() {
  std::lock_guard<std::mutex> hold(endpoints_lock);
  return endpoints;
}

void SetLookupEndpoints(const Endpoints& e) {
  std::lock_guard<std::mutex> hold(endpoints_lock);
  endpoints = e;
}

std::string RetrievePublicAddress(bool automatic) {
  const Endpoints e = LookupEndpoints();
  return RetrievePublicAddress(e.a, e.b, automatic);
}

std::string RetrievePublicAddress(const std::string& url_a, const std::string& url_b,
                                  bool automatic) {
  // An automatic lookup passes over an endpoint that asked to wait; with both waiting it
  // sends nothing at all.
  const bool ask_a = !automatic || !waiting(url_a);
  if (!ask_a && waiting(url_b)) return shared::kErrorText;

  // Each lookup downloads into a file of its own and reads its answer back from there, so
  // that no other lookup, of this process or of another one of the same user (a second
  // window, a script, a copy inside a VPN's namespace), can put its reply in between.
  // The last reply is then kept as my_ip.txt.
  const std::string dir = platform::temp_directory();
  const std::string own = dir.empty() ? "" : platform::create_unique_file(dir, "my_ip");
  if (own.empty()) return shared::kErrorText;

  // One endpoint's answer: its download read back and parsed. A reply without an address
  // counts as a failed endpoint, so a sign-in or error page from A still lets B answer.
  bool downloaded = false;
  const auto ask = [&](const std::string& url) -> std::string {
    platform::DownloadReply reply;
    if (!platform::download_to_file(url, own, &reply)) {
      heed(url, reply);
      return shared::kErrorText;
    }
    downloaded = true;
    std::string bytes;
    if (!platform::read_file_prefix(own, kLineBytes, bytes)) return shared::kErrorText;
    return parse_first_line(read_first_line(bytes));
  };
  std::string address = ask_a ? ask(url_a) : shared::kErrorText;
  if (address == shared::kErrorText && (!automatic || !waiting(url_b))) address = ask(url_b);
  // When neither download succeeded, an older my_ip.txt stays as it was.
  if (!downloaded || !platform::move_file(own, dir + "my_ip.txt")) platform::delete_file(own);
  return address;
}

}  // namespace unit1
