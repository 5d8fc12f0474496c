// Timers on the hidden message window of the UI thread.
#include <map>

#include "platform/win32/win32_impl.h"

namespace platform {

struct Timer::Impl {
  int period_ms;
  std::function<void()> on_tick;
  UINT_PTR id = 0;
  bool enabled = false;
};

namespace {

std::map<UINT_PTR, Timer::Impl*>& timers() {
  static std::map<UINT_PTR, Timer::Impl*> all;
  return all;
}

void CALLBACK on_timer(HWND, UINT, UINT_PTR id, DWORD) {
  const auto found = timers().find(id);
  if (found != timers().end() && found->second->enabled) win32::invoke(found->second->on_tick);
}

}  // namespace

Timer::Timer(int period_ms, std::function<void()> on_tick)
    : impl_(std::make_unique<Impl>(Impl{period_ms, std::move(on_tick)})) {
  win32::ensure_ui();
  static UINT_PTR next_id = 0;
  impl_->id = ++next_id;
  timers()[impl_->id] = impl_.get();
}

Timer::~Timer() {
  set_enabled(false);
  timers().erase(impl_->id);
}

bool Timer::enabled() const {
  return impl_->enabled;
}

// Enabling a running timer leaves it alone, so its period goes on undisturbed.
void Timer::set_enabled(bool on) {
  if (on == impl_->enabled) return;
  const HWND hwnd = win32::message_window();
  if (on) {
    if (!SetTimer(hwnd, impl_->id, static_cast<UINT>(impl_->period_ms), on_timer))
      throw Error("timer: " + win32::system_message(GetLastError()));
  } else {
    KillTimer(hwnd, impl_->id);
  }
  impl_->enabled = on;
}

}  // namespace platform
