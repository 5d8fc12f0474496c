// Finding the public address through an HTTP address-echo service.
#pragma once

#include <string>

namespace unit1 {

struct Endpoints {
  std::string a, b;
};
// The endpoints every lookup asks: the built-in ones, unless a test points them elsewhere.
Endpoints LookupEndpoints();
void SetLookupEndpoints(const Endpoints& endpoints);

// The address read from endpoint A, or from endpoint B when A's download fails or its
// reply holds no IPv4 address, or "取得エラー". Blocks the calling thread; never touches a window.
std::string RetrievePublicAddress();
std::string RetrievePublicAddress(const std::string& url_a, const std::string& url_b);

}  // namespace unit1
