#include "platform/invoke.h"

#include "platform/platform.h"

namespace platform {

void invoke(const std::function<void()>& handler) noexcept {
  if (!handler) return;
  try {
    try {
      handler();
    } catch (const std::exception& e) {
      show_exception(e);
    } catch (...) {
      show_exception(Error(""));
    }
  } catch (...) {
    // Showing the box failed too; nothing more can be done inside a callback.
  }
}

}  // namespace platform
