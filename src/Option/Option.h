// The options dialog. Its controls hold the live options, which every reader takes at
// the moment of use.
#pragma once

#include <string>

#include "platform/platform.h"

class TFormOption {
 public:
  TFormOption();
  platform::Window& Window() { return window_; }

  void FormCreate();
  void FormShow();
  void cbStartUpClick();
  void cbTimerClick();
  void cbFileSaveClick();
  void btnCloseClick();
  void sButton1Click();
  void sPanel1Click();

  // The live options; before the dialog exists they have their initial values.
  static bool AutoRefresh();
  static std::string IntervalText();
  // The interval text as an integer, 5 when it is not one.
  static int LiveInterval();
  static bool SaveToFile();
  static std::string SavePath();
  static bool NotifyOfChange();

  platform::Window window_;
  platform::Label sLabel1;
  platform::Label sLabel2;
  platform::Picture Image1;
  platform::Button btnClose;
  platform::CheckBox cbStartUp;
  platform::Panel sPanel1;
  platform::CheckBox cbTimer;
  platform::SpinEdit edtSec;
  platform::FileNameEdit edtFileName;
  platform::CheckBox cbFileSave;
  platform::Button sButton1;
  platform::CheckBox cbNotify;

 private:
  void ApplyTimerState();
  void ShowStartUpState();
};

extern TFormOption* FormOption;
// True from the dialog's construction until it is first shown, so that ticking the
// start-up box to mirror the shortcut does not touch the shortcut.
extern bool SuppressStartUpClick;
