// The rule that keeps a redirect from leading a download into the user's own machine or
// network, the same for every back end.
#include "logic/ipv4_scope.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using shared::IpAddress;
using shared::ipv4_mapped;
using shared::is_local_ipv4;
using shared::parse_ipv4;
using shared::redirect_allowed;

IpAddress v4(const char* dotted) {
  return ipv4_mapped(parse_ipv4(dotted).value());
}

bool local(const char* dotted) {
  const auto address = parse_ipv4(dotted);
  EXPECT_TRUE(address) << dotted;
  return address && is_local_ipv4(*address);
}

TEST(Ipv4Scope, ParsesOnlyPlainDottedQuads) {
  EXPECT_EQ(parse_ipv4("0.0.0.0"), 0u);
  EXPECT_EQ(parse_ipv4("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(parse_ipv4("192.0.2.1"), 0xC0000201u);
  EXPECT_EQ(parse_ipv4("010.001.0.9"), 0x0A010009u);
  for (const char* bad : {"", "1.2.3", "1.2.3.4.", ".1.2.3.4", "1..2.3", "256.0.0.1", "1.2.3.256",
                          "0001.2.3.4", " 1.2.3.4", "1.2.3.4 ", "1.2.3.-4", "1.2.3.4x", "::1",
                          "::ffff:127.0.0.1", "0x7f.0.0.1", "2130706433"})
    EXPECT_FALSE(parse_ipv4(bad)) << bad;
}

TEST(Ipv4Scope, LocalRangesAndTheirEdges) {
  for (const char* in : {"0.0.0.0",         "0.255.255.255",  "127.0.0.1",       "127.0.0.0",
                         "127.255.255.255", "169.254.0.0",    "169.254.169.254", "169.254.255.255",
                         "10.0.0.0",        "10.255.255.255", "172.16.0.0",      "172.20.1.1",
                         "172.31.255.255",  "192.168.0.0",    "192.168.1.1",     "192.168.255.255",
                         "100.64.0.0",      "100.64.0.1",     "100.127.255.255", "198.18.0.0",
                         "198.18.0.1",      "198.19.255.255"})
    EXPECT_TRUE(local(in)) << in;
  for (const char* out :
       {"1.0.0.0", "9.255.255.255", "11.0.0.0", "126.255.255.255", "128.0.0.0", "169.253.255.255",
        "169.255.0.0", "172.15.255.255", "172.32.0.0", "192.167.255.255", "192.169.0.0",
        "198.51.100.1", "203.0.113.9", "8.8.8.8", "100.63.255.255", "100.128.0.0", "198.17.255.255",
        "198.20.0.0", "255.255.255.255"})
    EXPECT_FALSE(local(out)) << out;
}

TEST(Ipv4Scope, RedirectIntoALocalAddressOnlyFromALocalOrigin) {
  struct Case {
    const char* origin;
    const char* target;
    bool allowed;
  } cases[] = {
      {"198.51.100.1", "203.0.113.5", true},  // public to public
      {"127.0.0.1", "203.0.113.5", true},     // local to public
      {"127.0.0.1", "127.0.0.1", true},       // a test server redirecting to itself
      {"192.168.1.10", "10.1.2.3", true},     // within the user's own network
      {"10.0.0.1", "169.254.169.254", true},  // the origin was local already
      {"198.51.100.1", "127.0.0.1", false},   // public to the machine itself
      {"198.51.100.1", "127.1.2.3", false},
      {"203.0.113.5", "169.254.169.254", false},  // public to a link-local service
      {"203.0.113.5", "192.168.0.1", false},      // public to the home router
      {"203.0.113.5", "10.0.0.8", false},
      {"203.0.113.5", "172.16.0.1", false},
      {"203.0.113.5", "0.0.0.0", false},  // unspecified reaches this machine
      {"", "127.0.0.1", false},           // unknown origin counts as public
      {"not an address", "10.0.0.1", false},
      {"127.0.0.1", "", false},  // an unknown target is never allowed
      {"127.0.0.1", "::1", false},
      {"198.51.100.1", "fe80::1", false},
      {"203.0.113.5", "100.64.0.1", false},  // a machine of the user's mesh network
      {"203.0.113.5", "198.18.0.1", false},
      {"100.100.100.100", "192.168.0.1", true},  // the origin was in the shared space
  };
  for (const Case& c : cases)
    EXPECT_EQ(redirect_allowed(c.origin, c.target, {}), c.allowed)
        << c.origin << " -> " << c.target;
}

// The machine's own interface addresses are local whatever their range, as target and as
// origin; the two-argument form, which has no list, knows only the ranges.
TEST(Ipv4Scope, TheMachinesOwnAddressesCountAsLocal) {
  const std::vector<IpAddress> own = {v4("203.0.113.77"), v4("127.0.0.1")};
  EXPECT_FALSE(redirect_allowed("198.51.100.1", "203.0.113.77", own));
  EXPECT_TRUE(redirect_allowed("198.51.100.1", "203.0.113.78", own));
  EXPECT_TRUE(redirect_allowed("203.0.113.77", "192.168.1.1", own));
  EXPECT_TRUE(redirect_allowed("198.51.100.1", "203.0.113.77", {}));
  IpAddress global6 = {0x20, 0x01, 0x0D, 0xB8};
  global6[15] = 7;
  EXPECT_FALSE(shared::is_local(global6, {}));
  EXPECT_TRUE(shared::is_local(global6, {global6}));
}

TEST(RedirectRule, LocalIpv6Classes) {
  const auto local = [](IpAddress a) { return shared::is_local(a, {}); };
  IpAddress loopback{}, unspecified{};
  loopback[15] = 1;
  IpAddress mapped_private = v4("192.168.0.1"), mapped_shared = v4("100.64.0.1");
  IpAddress link_local = {0xFE, 0x80}, unique_local = {0xFD, 0x12};
  IpAddress global = {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  IpAddress compat_public = {};  // ::8.8.8.8, no mapped prefix: not the loopback class
  compat_public[12] = compat_public[13] = compat_public[14] = compat_public[15] = 8;
  for (const IpAddress& a :
       {loopback, unspecified, mapped_private, mapped_shared, link_local, unique_local})
    EXPECT_TRUE(local(a));
  for (const IpAddress& a : {v4("8.8.8.8"), global, compat_public}) EXPECT_FALSE(local(a));
}

TEST(RedirectRule, HopsSchemesAndOrigins) {
  const std::vector<IpAddress> pub = {v4("198.51.100.1")}, home = {v4("192.168.1.2")};
  const std::vector<IpAddress> both = {v4("203.0.113.5"), v4("127.0.0.1")};
  EXPECT_TRUE(redirect_allowed(1, "http", pub, pub, {}));
  EXPECT_TRUE(redirect_allowed(shared::kMaxRedirects, "https", pub, pub, {}));
  EXPECT_FALSE(redirect_allowed(shared::kMaxRedirects + 1, "https", home, pub, {}));
  EXPECT_FALSE(redirect_allowed(0, "http", pub, pub, {}));
  EXPECT_FALSE(redirect_allowed(1, "file", home, home, {}));
  EXPECT_FALSE(redirect_allowed(1, "ftp", pub, pub, {}));
  EXPECT_FALSE(redirect_allowed(1, "http", pub, home, {}));  // public origin, local target
  EXPECT_FALSE(redirect_allowed(1, "http", pub, both, {}));  // any local address counts
  EXPECT_FALSE(redirect_allowed(1, "http", pub, {}, {}));    // a name that did not resolve
  const std::vector<IpAddress> mine = {v4("203.0.113.9")};   // the machine's own address
  EXPECT_FALSE(redirect_allowed(1, "http", pub, mine, mine));
  EXPECT_TRUE(redirect_allowed(1, "http", home, home, {}));  // the download began at home
  EXPECT_TRUE(redirect_allowed(1, "http", both, home, {}));
}

TEST(RedirectRule, PartsOfUrls) {
  using shared::url_parts;
  EXPECT_EQ(url_parts("HTTP://User:pw@Example.org:8080/a?b").scheme, "http");
  EXPECT_EQ(url_parts("HTTP://User:pw@Example.org:8080/a?b").host, "Example.org");
  EXPECT_EQ(url_parts("http://127.0.0.1:8080").host, "127.0.0.1");
  EXPECT_EQ(url_parts("http://[::1]:80/x").host, "::1");
  EXPECT_EQ(url_parts("http://evil.example#@127.0.0.1/").host, "evil.example");
  EXPECT_EQ(url_parts("file:///C:/windows/win.ini").scheme, "file");
  EXPECT_EQ(url_parts("file:///C:/windows/win.ini").host, "");
  EXPECT_EQ(url_parts("no scheme").scheme, "");
}

}  // namespace
