#include "Option/Option.h"

#include "Unit1/Unit1.h"
#include "Unit1/endpoints.h"
#include "logic/int_parse.h"
#include "settings/settings.h"
#include "startup_shortcut/startup_shortcut.h"

TFormOption* FormOption = nullptr;
bool SuppressStartUpClick = false;

namespace {
constexpr char kSaveFilter[] = "テキストファイル (*.txt)|*.txt|すべてのファイル (*.*)|*.*";
}

// Controls are declared in tab order, so the toolkit's focus chain follows it.
TFormOption::TFormOption()
    : window_(platform::Window::Kind::Dialog, "設定", 484, 256),
      sLabel1(window_, {10, 22, 127, 19}, "Addrova Ver 1.0", -16),
      sLabel2(window_, {287, 99, 12, 13}, "秒"),
      Image1(window_, {361, 33, 120, 120}, platform::PictureName{"image120"}),
      btnClose(window_, {392, 208, 82, 25}, "閉じる"),
      cbStartUp(window_, {10, 64, 218, 19}, "パソコン起動時にグローバルＩＰを確認する"),
      sPanel1(window_, {6, 208, 260, 25}, "author  :  TOLLWICK    CLICK !"),
      cbTimer(window_, {10, 96, 207, 19}, "指定間隔でＩＰアドレスを自動取得する"),
      edtSec(window_, {231, 95, 49, 21}, 5),
      edtFileName(window_, {29, 156, 251, 21}, 255, kSaveFilter, "*.txt"),
      cbFileSave(window_, {10, 131, 256, 19}, "ＩＰ取得時に、下記のファイルでアドレスを保存する"),
      sButton1(window_, {277, 208, 105, 25}, "適用"),
      cbNotify(window_, {10, 183, 200, 19}, "ＩＰアドレスが変わったら通知する") {
  edtSec.set_text("5");
  cbNotify.set_checked(true);
  edtSec.set_enabled(false);
  edtFileName.set_enabled(false);
  for (platform::Control* c :
       std::initializer_list<platform::Control*>{&btnClose, &sPanel1, &sButton1})
    c->set_hand_cursor();
  btnClose.on_click([this] { btnCloseClick(); });
  sButton1.on_click([this] { sButton1Click(); });
  sPanel1.on_click([this] { sPanel1Click(); });
  cbStartUp.on_click([this] { cbStartUpClick(); });
  cbTimer.on_click([this] { cbTimerClick(); });
  cbFileSave.on_click([this] { cbFileSaveClick(); });
  window_.on_show([this] { FormShow(); });
  SuppressStartUpClick = true;
  FormCreate();
}

void TFormOption::FormCreate() {
  ShowStartUpState();
}

void TFormOption::FormShow() {
  SuppressStartUpClick = false;
  btnClose.focus();
}

// Ticks the box when the shortcut exists, without the click handler touching it.
void TFormOption::ShowStartUpState() {
  const bool suppressed = SuppressStartUpClick;
  SuppressStartUpClick = true;
  cbStartUp.set_checked(StartupShortcutExists(platform::kStartupLinkName));
  SuppressStartUpClick = suppressed;
}

void TFormOption::cbStartUpClick() {
  if (SuppressStartUpClick) return;
  // Follows the shortcut's existence, not the box's new state. A failure has told of
  // itself already; only success is confirmed.
  if (StartupShortcutExists(platform::kStartupLinkName)) {
    if (RemoveStartupShortcut(platform::kStartupLinkName))
      platform::message_box("次回から自動起動されません");
  } else {
    if (CreateStartupShortcut(platform::kStartupLinkName))
      platform::message_box("次回から自動起動されます");
  }
  ShowStartUpState();
}

void TFormOption::cbTimerClick() {
  edtSec.set_enabled(cbTimer.checked());
}

void TFormOption::cbFileSaveClick() {
  edtFileName.set_enabled(cbFileSave.checked());
}

void TFormOption::ApplyTimerState() {
  if (!MainForm) return;
  if (cbTimer.checked())
    MainForm->ArmTimer();
  else
    MainForm->DisarmTimer();
}

void TFormOption::btnCloseClick() {
  ApplyTimerState();
  window_.end_modal();
}

void TFormOption::sButton1Click() {
  ApplyTimerState();
  SaveSettings();
}

void TFormOption::sPanel1Click() {
  platform::open_url(window_, unit1::kHomePageUrl);
}

bool TFormOption::AutoRefresh() {
  return FormOption && FormOption->cbTimer.checked();
}

std::string TFormOption::IntervalText() {
  return FormOption ? FormOption->edtSec.text() : "5";
}

int TFormOption::LiveInterval() {
  return shared::parse_int_or(IntervalText(), 5);
}

bool TFormOption::SaveToFile() {
  return FormOption && FormOption->cbFileSave.checked();
}

std::string TFormOption::SavePath() {
  return FormOption ? FormOption->edtFileName.text() : "";
}

bool TFormOption::NotifyOfChange() {
  return !FormOption || FormOption->cbNotify.checked();
}
