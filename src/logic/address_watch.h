// What a lookup's result means to a user who watches the address.
#pragma once

#include <string_view>

#include "logic/texts.h"

namespace shared {

// Whether a lookup's text goes to the clipboard. A lookup the user asked for (a press of
// the button, the first one at start) always copies; an automatic one (the refresh timer)
// copies only an address that differs from `previous`, the one the last successful lookup
// of this run found, so that what the user copied meanwhile stays while nothing changed.
inline bool copies_to_clipboard(std::string_view text, std::string_view previous, bool automatic) {
  return !automatic || (text != kErrorText && text != previous);
}

}  // namespace shared
