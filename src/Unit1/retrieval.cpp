#include "Unit1/retrieval.h"

#include <mutex>

#include "Unit1/endpoints.h"
#include "logic/first_line.h"
#include "logic/texts.h"
#include "platform/platform.h"

namespace unit1 {

namespace {

// Never destroyed, for workers that outlive main().
std::mutex& endpoints_lock = *new std::mutex;
Endpoints& endpoints = *new Endpoints{kEndpointA, kEndpointB};

}  // namespace

Endpoints LookupEndpoints() {
  std::lock_guard<std::mutex> hold(endpoints_lock);
  return endpoints;
}

void SetLookupEndpoints(const Endpoints& e) {
  std::lock_guard<std::mutex> hold(endpoints_lock);
  endpoints = e;
}

std::string RetrievePublicAddress() {
  const Endpoints e = LookupEndpoints();
  return RetrievePublicAddress(e.a, e.b);
}

std::string RetrievePublicAddress(const std::string& url_a, const std::string& url_b) {
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
    if (!platform::download_to_file(url, own)) return shared::kErrorText;
    downloaded = true;
    std::string bytes;
    if (!platform::read_file_prefix(own, kLineBytes, bytes)) return shared::kErrorText;
    return parse_first_line(read_first_line(bytes));
  };
  std::string address = ask(url_a);
  if (address == shared::kErrorText) address = ask(url_b);
  // When neither download succeeded, an older my_ip.txt stays as it was.
  if (!downloaded || !platform::move_file(own, dir + "my_ip.txt")) platform::delete_file(own);
  return address;
}

}  // namespace unit1
