// Watching the public address from a terminal, for scripts.
#pragma once

#include <cstdio>

namespace watch {

// Looks the address up at once, every `seconds` and after each change of the network once
// it settled, and writes "<local time>\t<address or 取得エラー>" and a newline to `out`
// whenever the result differs from the line before. Runs until the process is asked to end
// (status 0) or `out` is closed (status 1).
int Run(int seconds, std::FILE* out);

}  // namespace watch
