// How the interval box treats what the user types, pastes, steps and leaves behind.
#pragma once

#include <string>
#include <string_view>

namespace option {

// A typed character the box takes: digits only; editing keys never reach this test.
bool spin_accepts_char(char32_t c);
// The box's text after a paste is kept only when it reads as an integer.
bool spin_accepts_paste(std::string_view resulting_text);
// Text after stepping by delta: from the current integer (the minimum when there is none),
// never below the minimum, saturating at the top of the int range.
std::string spin_step(std::string_view text, int delta, int minimum);
// Text when the box loses the focus: an empty box or a value below the minimum becomes
// the minimum; anything else stays as it is.
std::string spin_leave(std::string_view text, int minimum);

}  // namespace option
