// The options the program takes on a command line, where the platform has one.
#pragma once

#include <cstdio>
#include <string>

namespace command_line {

enum class Action {
  Window,    // no arguments: the usual window
  Print,     // --print: one lookup, the address on standard output
  Watch,     // --watch [SECONDS]: a line on standard output for each change of the address
  Version,   // --version
  Help,      // --help, -h
  BadUsage,  // anything else
};

struct Request {
  Action action = Action::Window;
  std::string bad_argument;  // for BadUsage
  bool bad_seconds = false;  // for BadUsage: bad_argument was given as --watch's N
  int seconds = 0;           // for Watch
};

Request Parse(int argc, const char* const* argv);

// Carries out a request other than Window and returns the process's exit status: 0 when
// it succeeded (for Watch: it was asked to end), 1 when the lookup failed (for Watch: its
// output was closed), 2 for bad usage.
int Run(const Request& request, std::FILE* out, std::FILE* err);

}  // namespace command_line
