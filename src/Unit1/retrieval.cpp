#include "Unit1/retrieval.h"

#include <mutex>

#include "Unit1/endpoints.h"
#include "logic/first_line.h"
#include "logic/texts.h"
#include "platform/platform.h"

namespace unit1 {

namespace {

// Never destroyed, like the file lock below, for workers that outlive main().
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
  // Every lookup shares one temporary file; workers started after the user cleared the
  // busy text would otherwise read each other's half-written download. Never destroyed,
  // so a worker still running while the process exits finds it intact.
  static std::mutex& file_lock = *new std::mutex;
  const std::string dir = platform::temp_directory();
  if (dir.empty()) return shared::kErrorText;
  const std::string path = dir + "my_ip.txt";

  // One endpoint's answer: its download read back from the file and parsed. A reply
  // without an address counts as a failed endpoint, so a sign-in or error page from A
  // still lets B answer.
  const auto ask = [&path](const std::string& url) -> std::string {
    if (!platform::download_to_file(url, path)) return shared::kErrorText;
    std::string bytes;
    if (!platform::read_file_prefix(path, kLineBytes, bytes)) {
      platform::delete_file(path);
      return shared::kErrorText;
    }
    return parse_first_line(read_first_line(bytes));
  };
  std::lock_guard<std::mutex> hold(file_lock);
  std::string address = ask(url_a);
  if (address == shared::kErrorText) address = ask(url_b);
  return address;
}

}  // namespace unit1
