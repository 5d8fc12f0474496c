// What a lookup's result means to a user who watches the address.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "logic/texts.h"

namespace shared {

// Whether a lookup's text goes to the clipboard. A lookup the user asked for (a press of
// the button, the first one at start) always copies; an automatic one (the refresh timer,
// a change of the network) copies only an address that differs from `previous`, the one
// the last successful lookup of this run found, so that what the user copied meanwhile
// stays while nothing changed.
inline bool copies_to_clipboard(std::string_view text, std::string_view previous, bool automatic) {
  return !automatic || (text != kErrorText && text != previous);
}

inline constexpr char kChangedSummary[] = "グローバルＩＰが変わりました";

// Whether the user is told of a lookup's result: an automatic lookup found an address
// other than `previous`, the one found before in this run. The first address of a run is
// no change, and neither is an error.
inline bool notifies_change(std::string_view text, std::string_view previous, bool automatic) {
  return automatic && !previous.empty() && text != kErrorText && text != previous;
}

// The notification's text: "old → new".
inline std::string change_text(std::string_view previous, std::string_view text) {
  return std::string(previous) + " → " + std::string(text);
}

// A burst of events taken as one: it has settled once `quiet` passed after its last event.
class Settling {
 public:
  using Time = std::chrono::steady_clock::time_point;
  explicit Settling(std::chrono::milliseconds quiet) : quiet_(quiet) {}
  void event(Time now) {
    pending_ = true;
    last_ = now;
  }
  // True once for each burst: at the first call `quiet` or more after its last event.
  bool settled(Time now) {
    if (!pending_ || now - last_ < quiet_) return false;
    pending_ = false;
    return true;
  }
  void clear() { pending_ = false; }

 private:
  std::chrono::milliseconds quiet_;
  Time last_{};
  bool pending_ = false;
};

}  // namespace shared
