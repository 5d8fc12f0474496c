// The address lookup through URLDownloadToFileW against the loopback test server.
#include "Unit1/retrieval.h"

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "test_server.h"

namespace {

using wintest::echo_page;
using wintest::fresh_url;
using test::percent_encode;
using wintest::server_url;

constexpr char kError[] = "取得エラー";

std::string a() {
  return fresh_url("/echo/203.0.113.7/");
}
std::string b() {
  return fresh_url("/echo/198.51.100.23/");
}
std::string body(const std::string& bytes) {
  return server_url("/body/" + percent_encode(bytes));
}

TEST(RetrievalTest, EndpointAGivesTheAddress) {
  const std::string endpoint_a = a(), endpoint_b = b();
  EXPECT_EQ(unit1::RetrievePublicAddress(endpoint_a, endpoint_b), "203.0.113.7");
  EXPECT_EQ(wintest::requests_for(endpoint_a), 1);
  EXPECT_EQ(wintest::requests_for(endpoint_b), 0);  // B is not asked when A answers
}

TEST(RetrievalTest, FallsBackToEndpointBWhenAIsUnreachable) {
  EXPECT_EQ(unit1::RetrievePublicAddress(wintest::refused_url("/a"), b()), "198.51.100.23");
}

TEST(RetrievalTest, ErrorTextWhenNeitherEndpointAnswersAndTheOldReplyStays) {
  ASSERT_EQ(unit1::RetrievePublicAddress(a(), b()), "203.0.113.7");
  const std::string kept = platform::temp_directory() + "my_ip.txt";
  std::string before, after;
  ASSERT_TRUE(platform::read_file_prefix(kept, 4096, before));
  EXPECT_EQ(unit1::RetrievePublicAddress(wintest::refused_url("/a"), wintest::refused_url("/b")),
            kError);
  ASSERT_TRUE(platform::read_file_prefix(kept, 4096, after));
  EXPECT_EQ(after, before);
}

TEST(RetrievalTest, AReplyWithoutAnAddressMakesBAnswer) {
  const std::string no_colon = body("<html>no address here</html>\r\n");
  const std::string sign_in =
      body("<html><head><title>Hotel WiFi: please log in</title></head></html>\r\n");
  EXPECT_EQ(unit1::RetrievePublicAddress(no_colon, b()), "198.51.100.23");
  EXPECT_EQ(unit1::RetrievePublicAddress(sign_in, b()), "198.51.100.23");
  EXPECT_EQ(unit1::RetrievePublicAddress(no_colon, sign_in), kError);
  EXPECT_EQ(unit1::RetrievePublicAddress(
                body("<p>Address: 192.0.2.1</p>\r\n<p>IP: 10.0.0.1</p>\r\n"), b()),
            "192.0.2.1");
}

TEST(RetrievalTest, DownloadWritesTheBodyToTheFile) {
  const std::string path = platform::temp_directory() + "addrova_download_test.txt";
  ASSERT_TRUE(platform::download_to_file(a(), path));
  std::string bytes;
  ASSERT_TRUE(platform::read_file_prefix(path, 1000, bytes));
  EXPECT_EQ(bytes, echo_page("203.0.113.7"));
  std::string prefix;
  ASSERT_TRUE(platform::read_file_prefix(path, 6, prefix));
  EXPECT_EQ(prefix, "<html>");
  EXPECT_TRUE(platform::delete_file(path));
  EXPECT_FALSE(platform::file_exists(path));
  EXPECT_FALSE(platform::read_file_prefix(path, 6, prefix));
  EXPECT_FALSE(platform::download_to_file(wintest::refused_url("/x"), path));
}

TEST(Sockets, HostNameAndItsAddress) {
  platform::SocketSession sockets;
  ASSERT_TRUE(sockets.started());
  std::string host, dotted;
  ASSERT_TRUE(sockets.host_name(host));
  EXPECT_FALSE(host.empty());
  std::string loopback;
  ASSERT_TRUE(sockets.first_ipv4("localhost", loopback));
  EXPECT_EQ(loopback, "127.0.0.1");
}

}  // namespace
