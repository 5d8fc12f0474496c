// The rule that keeps a redirect from leading a download into the user's own network.
#include "logic/ipv4_scope.h"

#include <gtest/gtest.h>

namespace {

using shared::is_local_ipv4;
using shared::parse_ipv4;
using shared::redirect_allowed;

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
  for (const char* in :
       {"0.0.0.0", "0.255.255.255", "127.0.0.1", "127.0.0.0", "127.255.255.255", "169.254.0.0",
        "169.254.169.254", "169.254.255.255", "10.0.0.0", "10.255.255.255", "172.16.0.0",
        "172.20.1.1", "172.31.255.255", "192.168.0.0", "192.168.1.1", "192.168.255.255"})
    EXPECT_TRUE(local(in)) << in;
  for (const char* out :
       {"1.0.0.0", "9.255.255.255", "11.0.0.0", "126.255.255.255", "128.0.0.0", "169.253.255.255",
        "169.255.0.0", "172.15.255.255", "172.32.0.0", "192.167.255.255", "192.169.0.0",
        "198.51.100.1", "203.0.113.9", "8.8.8.8", "100.64.0.1", "255.255.255.255"})
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
  };
  for (const Case& c : cases)
    EXPECT_EQ(redirect_allowed(c.origin, c.target), c.allowed) << c.origin << " -> " << c.target;
}

}  // namespace
