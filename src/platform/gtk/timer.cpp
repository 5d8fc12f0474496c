#include "platform/gtk/gtk_impl.h"

namespace platform {

struct Timer::Impl {
  int period_ms;
  std::function<void()> on_tick;
  guint source = 0;
};

namespace {

gboolean on_timeout(gpointer data) {
  gtk::invoke(static_cast<Timer::Impl*>(data)->on_tick);
  return G_SOURCE_CONTINUE;
}

}  // namespace

Timer::Timer(int period_ms, std::function<void()> on_tick)
    : impl_(std::make_unique<Impl>(Impl{period_ms, std::move(on_tick)})) {}

Timer::~Timer() {
  set_enabled(false);
}

bool Timer::enabled() const {
  return impl_->source != 0;
}

void Timer::set_enabled(bool on) {
  if (on && !impl_->source) {
    impl_->source = g_timeout_add(static_cast<guint>(impl_->period_ms), on_timeout, impl_.get());
  } else if (!on && impl_->source) {
    g_source_remove(impl_->source);
    impl_->source = 0;
  }
}

}  // namespace platform
