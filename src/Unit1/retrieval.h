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
// An endpoint that answered 429 or 503 with a Retry-After is not asked by an `automatic`
// lookup (one the user did not ask for) until that time, at most an hour; an automatic
// lookup with both endpoints waiting asks neither and gives "取得エラー". A lookup the user
// asked for asks as always.
std::string RetrievePublicAddress(bool automatic = false);
std::string RetrievePublicAddress(const std::string& url_a, const std::string& url_b,
                                  bool automatic = false);

}  // namespace unit1
