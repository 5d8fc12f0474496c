// The options the program takes on a command line, where the platform has one.
#pragma once

#include <cstdio>
#include <string>

namespace command_line {

enum class Action {
  Window,    // no arguments: the usual window
  Print,     // --print: one lookup, the address on standard output
  Version,   // --version
  Help,      // --help, -h
  BadUsage,  // anything else
};

struct Request {
  Action action = Action::Window;
  std::string bad_argument;  // for BadUsage
};

Request Parse(int argc, const char* const* argv);

// Carries out a request other than Window and returns the process's exit status: 0 when
// it succeeded, 1 when the lookup failed, 2 for bad usage.
int Run(const Request& request, std::FILE* out, std::FILE* err);

}  // namespace command_line
