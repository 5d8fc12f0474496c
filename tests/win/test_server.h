// The loopback HTTP server of the Windows tests: the Linux echo_server that wine.sh starts
// for the build (ADDROVA_TEST_SERVER=127.0.0.1:PORT), whose request path chooses its answer
// (the grammar in tests/support/http_server.h), and the log of the requests it received.
#pragma once

#include <string>

#include "support/percent_encode.h"

namespace wintest {

// http://127.0.0.1:PORT<path>; a test failure when no server was given.
std::string server_url(const std::string& path);
// server_url(path + a token new in every call, also across runs), for the paths that
// ignore what follows them: the system may answer a URL it has seen from its cache.
std::string fresh_url(const std::string& path);
// How many GET requests for this URL's target the server has logged.
int requests_for(const std::string& url);
// A URL on a loopback port where nothing listens: connections are refused.
std::string refused_url(const std::string& path);
// The address-echo page on one line.
std::string echo_page(const std::string& address);

}  // namespace wintest
