// The address lookup through URLDownloadToFileW against loopback servers.
#include "Unit1/retrieval.h"

#include <gtest/gtest.h>

#include "loopback_http.h"
#include "platform/platform.h"

namespace {

using wintest::echo_page;
using wintest::LoopbackHttp;
using wintest::Response;

constexpr char kError[] = "取得エラー";

// Every test asks for URLs of its own: the system may cache a download by its URL.
class RetrievalTest : public testing::Test {
 protected:
  LoopbackHttp server_{[](const std::string& target) -> Response {
    if (target.rfind("/a/", 0) == 0) return {200, echo_page("203.0.113.7")};
    if (target.rfind("/b/", 0) == 0) return {200, echo_page("198.51.100.23")};
    if (target.rfind("/nocolon/", 0) == 0) return {200, "<html>no address here</html>\r\n"};
    if (target.rfind("/signin/", 0) == 0)
      return {200, "<html><head><title>Hotel WiFi: please log in</title></head></html>\r\n"};
    if (target.rfind("/lines/", 0) == 0)
      return {200, "<p>Address: 192.0.2.1</p>\r\n<p>IP: 10.0.0.1</p>\r\n"};
    return {404, "<html>Not Found</html>"};
  }};
  std::string url(const std::string& target) {
    return server_.url(target + std::to_string(++counter_));
  }
  int counter_ = 0;
};

TEST_F(RetrievalTest, EndpointAGivesTheAddress) {
  EXPECT_EQ(unit1::RetrievePublicAddress(url("/a/"), url("/b/")), "203.0.113.7");
  EXPECT_EQ(server_.requests(), 1);  // B is not asked when A answers
}

TEST_F(RetrievalTest, FallsBackToEndpointBWhenAIsUnreachable) {
  EXPECT_EQ(unit1::RetrievePublicAddress(wintest::refused_url("/a"), url("/b/")), "198.51.100.23");
}

TEST_F(RetrievalTest, ErrorTextWhenNeitherEndpointAnswersAndTheOldReplyStays) {
  ASSERT_EQ(unit1::RetrievePublicAddress(url("/a/"), url("/b/")), "203.0.113.7");
  const std::string kept = platform::temp_directory() + "my_ip.txt";
  std::string before, after;
  ASSERT_TRUE(platform::read_file_prefix(kept, 4096, before));
  EXPECT_EQ(unit1::RetrievePublicAddress(wintest::refused_url("/a"), wintest::refused_url("/b")),
            kError);
  ASSERT_TRUE(platform::read_file_prefix(kept, 4096, after));
  EXPECT_EQ(after, before);
}

TEST_F(RetrievalTest, AReplyWithoutAnAddressMakesBAnswer) {
  EXPECT_EQ(unit1::RetrievePublicAddress(url("/nocolon/"), url("/b/")), "198.51.100.23");
  EXPECT_EQ(unit1::RetrievePublicAddress(url("/signin/"), url("/b/")), "198.51.100.23");
  EXPECT_EQ(unit1::RetrievePublicAddress(url("/nocolon/"), url("/signin/")), kError);
  EXPECT_EQ(unit1::RetrievePublicAddress(url("/lines/"), url("/b/")), "192.0.2.1");
}

TEST_F(RetrievalTest, DownloadWritesTheBodyToTheFile) {
  const std::string path = platform::temp_directory() + "addrova_download_test.txt";
  ASSERT_TRUE(platform::download_to_file(url("/a/"), path));
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
