#include "logic/profile_format.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

namespace profile = platform::profile;
using namespace std::string_literals;

namespace {

std::string set_ok(std::string_view text, std::string_view section, std::string_view key,
                   std::string_view value) {
  const auto out = profile::set(text, section, key, value);
  EXPECT_TRUE(out.has_value()) << key << "=" << value;
  return out.value_or("");
}

TEST(ProfileFormat, ReadsForeignLayouts) {
  const std::string text =
      "top=x\n[ Setting ] tail\n; TIMER=9\n\tTimer_Sec =  42  \nTIMER_SEC=2\nbare\n"
      "[other]\rk=lone CR\r[setting]\r\nTIMER=3\r\n[q]\nq=\"quoted\"\nh=\"half\nend=x";
  EXPECT_EQ(profile::get(text, " SETTING ", "timer_sec"), "42");
  EXPECT_EQ(profile::get(text, "SETTING", "TIMER"), std::nullopt);  // only the first section
  EXPECT_EQ(profile::get(text, "SETTING", "bare"), std::nullopt);
  EXPECT_EQ(profile::get(text, "SETTING", "top"), std::nullopt);
  EXPECT_EQ(profile::get(text, "other", "k"), "lone CR");
  EXPECT_EQ(profile::get(text, "q", "q"), "quoted");
  EXPECT_EQ(profile::get(text, "q", "h"), "\"half");
  EXPECT_EQ(profile::get(text, "q", "end"), "x");
}

TEST(ProfileFormat, WritesInPlaceOrAppendsKeepingOtherLines) {
  std::string text = set_ok("", "SETTING", "TIMER_SEC", "5");
  EXPECT_EQ(text, "[SETTING]\r\nTIMER_SEC=5\r\n");
  text = set_ok(set_ok(text, "SETTING", "TIMER", "1"), "OTHER", "A", "x");
  EXPECT_EQ(set_ok(text, "setting", "timer", "0"),
            "[SETTING]\r\nTIMER_SEC=5\r\ntimer=0\r\n\r\n[OTHER]\r\nA=x\r\n");

  const std::string prefix = "; head\n[A]\n  x = 1 \t\n\xff\xfe junk\n\n[SETTING] ;c\r\n";
  text = prefix + "\tTIMER = 3\r\nTIMER=4\nzz\n\r\n  \r\n[setting]\nNEW=1\n[B]\ny=2";
  EXPECT_EQ(set_ok(text, "setting", "TIMER", "7"),
            prefix + "TIMER=7\r\nTIMER=4\nzz\n\r\n  \r\n[setting]\nNEW=1\n[B]\ny=2");
  // A new key follows the section's last non-blank line, before the separating blanks.
  EXPECT_EQ(set_ok(text, "SETTING", "NEW", "v"),
            prefix + "\tTIMER = 3\r\nTIMER=4\nzz\nNEW=v\r\n\r\n  \r\n[setting]\nNEW=1\n[B]\ny=2");
  // A last line without a break gets one before the added text.
  EXPECT_EQ(set_ok(text, "b", "z", "3"), text + "\r\nz=3\r\n");
  EXPECT_EQ(set_ok("x", "N", "k", "v"), "x\r\n\r\n[N]\r\nk=v\r\n");
  EXPECT_EQ(set_ok("x\n\n", "N", "k", "v"), "x\n\n[N]\r\nk=v\r\n");
}

TEST(ProfileFormat, ValuesReadBackAsWritten) {
  for (const std::string v : {"", " padded\t", "\"quoted\"", "\"", "a=b;[c]", "日本語/パス.txt"})
    EXPECT_EQ(profile::get(set_ok("[S]\r\nk=old\r\n", "S", "k", v), "S", "k"), v);
  // A stored path must lead to the same file: no length cut, no bytes replaced; only a NUL
  // ends a value early.
  const std::string long_value = "/é" + std::string(5000, 'a') + "é";
  EXPECT_EQ(profile::get(set_ok("", "S", "k", long_value), "S", "k"), long_value);
  for (const std::string v : {"/tmp/caf\xe9.txt", "\xff\xfe", "\xE3\x81", "\xED\xA0\x80"})
    EXPECT_EQ(profile::get(set_ok("", "S", "k", v), "S", "k"), v);
  EXPECT_EQ(profile::get("[S]\nk=ab\0cd\n"s, "S", "k"), "ab");
}

TEST(ProfileFormat, RefusesWhatWouldAddLines) {
  for (const std::string& v : {"1\r\n[S]\r\nk=2"s, "a\nb"s, "a\rb"s, "a\0b"s})
    EXPECT_FALSE(profile::set("[S]\r\nk=1\r\n", "S", "k", v));
  for (const char* key : {"", "  ", "a=b", "[k", "k]", "a\nb", ";c"})
    EXPECT_FALSE(profile::set("", "S", key, "v")) << key;
  for (const char* section : {"", " ", "a]b", "[a", "a\r"})
    EXPECT_FALSE(profile::set("", section, "k", "v")) << section;
  EXPECT_EQ(profile::get(set_ok("", "a=b", "k", "v"), "A=B", "k"), "v");
}

TEST(ProfileFormat, SurvivesJunkAndHugeTexts) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::string junk(rng() % 300, '\0');
    for (char& c : junk) c = "[]=;\r\n \0ab\xff"[rng() % 11];
    EXPECT_EQ(profile::get(set_ok(junk, "a", "b", "v"), "a", "b"), "v")
        << testing::PrintToString(junk);
  }

  const auto start = std::chrono::steady_clock::now();
  std::string big = "[S]\r\n";
  while (big.size() < 50'000'000) big += "key_number_0123456789=some value here\r\n";
  EXPECT_EQ(profile::get(big + "last=1", "S", "last"), "1");
  EXPECT_EQ(profile::get(set_ok(big, "S", "added", "2"), "S", "added"), "2");
  // Millions of empty lines, or one endless line, must not make the scan quadratic.
  EXPECT_FALSE(profile::get(std::string(5'000'000, '\r'), "S", "k"));
  EXPECT_FALSE(profile::get(std::string(50'000'000, 'x'), "S", "k"));
  EXPECT_EQ(profile::get(set_ok(std::string(5'000'000, '\n'), "S", "k", "v"), "S", "k"), "v");
  // Generous enough for sanitizer builds; a quadratic scan would take hours.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
