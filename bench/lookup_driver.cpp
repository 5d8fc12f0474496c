// lookup_driver [N]: the program's main and options windows, made as main() makes them,
// with the fetch button clicked N times (default 50) once the first automatic lookup is
// done. For every click it measures the time from the click to the moment the worker's
// hand-off has run on the UI thread: that one step puts the address in the box and on the
// clipboard, so the box leaving the busy text marks the end. The box is polled from
// another thread through the UI queue every 0.1 ms. The lookups use the built-in endpoint
// URLs, so this runs where those host names lead to a test server.
//
// Output: one line "lookup_ms=<t1>,<t2>,…" and one "median_ms=<m>"; exit 1 when a lookup
// did not give the same address as the first one or the clipboard did not hold it.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "Option/Option.h"
#include "Unit1/Unit1.h"
#include "logic/texts.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs f on the UI thread and waits for its result.
template <class F>
auto on_ui(F f) -> decltype(f()) {
  std::promise<decltype(f())> done;
  auto result = done.get_future();
  platform::post_to_ui([&] { done.set_value(f()); });
  return result.get();
}

[[noreturn]] void finish(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  // The UI thread is still in its loop; nothing needs tearing down for a measurement.
  _exit(code);
}

void drive(TMainForm& form, int lookups) {
  const auto box = [&form] { return form.edtIP.text(); };
  // The first lookup starts by itself once the window is shown.
  const auto give_up = Clock::now() + std::chrono::seconds(15);
  std::string address;
  while ((address = on_ui(box)).empty() || address == shared::kBusyText) {
    if (Clock::now() > give_up) {
      std::fprintf(stderr, "lookup_driver: the first lookup did not finish\n");
      finish(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (address == shared::kErrorText) {
    std::fprintf(stderr, "lookup_driver: the first lookup failed\n");
    finish(1);
  }

  std::vector<double> ms;
  for (int i = 0; i < lookups; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const Clock::time_point start = on_ui([&form] {
      const Clock::time_point t = Clock::now();
      form.Button1.click();
      return t;
    });
    Clock::time_point end;
    std::string text;
    for (;;) {
      const auto [t, now_text] =
          on_ui([&form] { return std::make_pair(Clock::now(), form.edtIP.text()); });
      if (now_text != shared::kBusyText) {
        end = t;
        text = now_text;
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    if (text != address) {
      std::fprintf(stderr, "lookup_driver: lookup %d gave '%s', the first gave '%s'\n", i + 1,
                   text.c_str(), address.c_str());
      finish(1);
    }
    const std::string clip = on_ui([] { return platform::clipboard_text(); });
    if (clip != address) {
      std::fprintf(stderr, "lookup_driver: clipboard holds '%s' after lookup %d\n", clip.c_str(),
                   i + 1);
      finish(1);
    }
    ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }

  std::printf("lookup_ms=");
  for (std::size_t i = 0; i < ms.size(); ++i) std::printf(i ? ",%.3f" : "%.3f", ms[i]);
  std::sort(ms.begin(), ms.end());
  const double median =
      ms.empty()
          ? 0
          : (ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2);
  std::printf("\nmedian_ms=%.3f\n", median);
  finish(0);
}

}  // namespace

int main(int argc, char** argv) {
  const int lookups = argc > 1 ? std::atoi(argv[1]) : 50;
  platform::init(argc, argv);
  TMainForm main_form;
  MainForm = &main_form;
  TFormOption option_form;
  FormOption = &option_form;
  std::thread([&main_form, lookups] { drive(main_form, lookups); }).detach();
  platform::run_message_loop();
  std::fprintf(stderr, "lookup_driver: the window closed before the end\n");
  return 1;
}
