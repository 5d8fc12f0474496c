#include "Unit1/Unit1.h"

#include "Option/Option.h"
#include "logic/address_watch.h"
#include "logic/texts.h"
#include "settings/settings.h"

TMainForm* MainForm = nullptr;

TMainForm::TMainForm()
    : window_(platform::Window::Kind::Main, "Addrova", 402, 39),
      Label1(window_, {7, 15, 60, 13}, "グローバルＩＰ"),
      Button1(window_, {237, 8, 121, 25}, "取得してコピー"),
      edtIP(window_, {78, 8, 150, 26}, -15, true),
      btnOption(window_, {364, 4, 32, 30}, platform::PictureName{"option24"}),
      tmExec(1000, [this] { tmExecTimer(); }),
      tmSettle(100, [this] { tmSettleTimer(); }) {
  Button1.set_hand_cursor();
  Button1.on_click([this] { Button1Click(); });
  btnOption.on_click([this] { btnOptionClick(); });
  btnOption.set_hint("設定");
  window_.on_show([this] { FormShow(); });
  Button1.focus();
  platform::set_idle_hook([this] { FirstIdle(); });
}

TMainForm::~TMainForm() {
  platform::on_network_change(nullptr);
}

// Runs once, after the window was shown and the queue went idle: the first lookup.
void TMainForm::FirstIdle() {
  platform::set_idle_hook(nullptr);
  Button1.click();
}

void TMainForm::FormShow() {
  LoadSettings();
  // Bottom right: the left edge comes from the full display width, the top from the
  // work area, so a task bar at the bottom stays uncovered.
  platform::Rect area;
  platform::work_area(area);
  int width = 0, height = 0;
  if (!platform::display_mode(width, height)) return;
  const platform::Rect outer = window_.outer_rect();
  window_.move(width - (outer.right - outer.left), area.bottom - (outer.bottom - outer.top));
}

void TMainForm::Button1Click() {
  if (FormOption && FormOption->Window().visible()) return;
  if (edtIP.text() == shared::kBusyText) return;
  edtIP.set_text(shared::kBusyText);
  TGetIPThread::Start(*this, automatic_request_);
}

bool TMainForm::LookupDone(const std::string& text, bool automatic) {
  const bool copy = shared::copies_to_clipboard(text, last_address_, automatic);
  if (TFormOption::NotifyOfChange() && shared::notifies_change(text, last_address_, automatic))
    platform::notify(shared::kChangedSummary, shared::change_text(last_address_, text));
  if (text != shared::kErrorText) last_address_ = text;
  return copy;
}

void TMainForm::tmExecTimer() {
  if (tmExecTag != 0) {
    --tmExecTag;
    return;
  }
  AutomaticRequest();
}

// The same request as a press of the button, marked as automatic; the countdown to the
// next one starts again.
void TMainForm::AutomaticRequest() {
  automatic_request_ = true;
  Button1.click();
  automatic_request_ = false;
  tmExecTag = TFormOption::LiveInterval();
}

void TMainForm::ArmTimer() {
  tmExecTag = TFormOption::LiveInterval();
  tmExec.set_enabled(true);
  platform::on_network_change([this] { NetworkChanged(); });
}

void TMainForm::DisarmTimer() {
  tmExec.set_enabled(false);
  platform::on_network_change(nullptr);
  network_changes_.clear();
  tmSettle.set_enabled(false);
}

void TMainForm::NetworkChanged() {
  network_changes_.event(std::chrono::steady_clock::now());
  tmSettle.set_enabled(true);
}

void TMainForm::tmSettleTimer() {
  if (!network_changes_.settled(std::chrono::steady_clock::now())) return;
  tmSettle.set_enabled(false);
  AutomaticRequest();
}

void TMainForm::btnOptionClick() {
  if (FormOption) FormOption->Window().show_modal();
}
