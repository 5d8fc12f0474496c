// Percent-encoding of the test server's path arguments, for the server and for the tests
// of both systems that build its URLs.
#pragma once

#include <string>

namespace test {

// Every byte except unreserved characters and '/' as %XX.
inline std::string percent_encode(const std::string& s) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~' || c == '/') {
      out += ch;
    } else {
      out += '%';
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
  return out;
}

}  // namespace test
