// Running the program's handlers from a toolkit callback, shared by the back ends.
#pragma once

#include <functional>

namespace platform {

// Runs the handler; an escaping exception is shown in the standard exception box and goes
// no further, since it must never unwind through the toolkit's C code.
void invoke(const std::function<void()>& handler) noexcept;

}  // namespace platform
