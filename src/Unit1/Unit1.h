// The main window, its fetch request and refresh timer, and the lookup worker.
#pragma once

#include <memory>
#include <string>

#include "logic/address_watch.h"
#include "platform/platform.h"

class TMainForm {
 public:
  TMainForm();
  ~TMainForm();
  platform::Window& Window() { return window_; }

  void FormShow();
  void Button1Click();
  void tmExecTimer();
  void btnOptionClick();

  // Offered to the settings and the options dialog.
  void ArmTimer();
  void DisarmTimer();
  // Offered to the lookup worker, on the UI thread.
  void SetCaption(const std::string& title) { window_.set_title(title); }
  // Takes a lookup's result, telling the user of a changed address; true when it goes to
  // the clipboard.
  bool LookupDone(const std::string& text, bool automatic);

  // The refresh timer's countdown of ticks left before the next automatic request.
  long long tmExecTag = 0;

  platform::Window window_;
  // Declared in tab order: Button1 holds the focus at start.
  platform::Label Label1;
  platform::Button Button1;
  platform::Edit edtIP;
  platform::Button btnOption;
  platform::Timer tmExec;
  // Runs only while changes of the network are settling.
  platform::Timer tmSettle;

 private:
  void FirstIdle();
  void AutomaticRequest();
  void NetworkChanged();
  void tmSettleTimer();
  // Set while the refresh timer presses the button.
  bool automatic_request_ = false;
  // Changes of the network while refresh is on; a lookup follows once they settled.
  shared::Settling network_changes_{std::chrono::seconds(2)};
  // The address the last successful lookup of this run found.
  std::string last_address_;
};

// One lookup on its own thread. It frees itself when done; nobody waits for it.
class TGetIPThread {
 public:
  // `automatic` for a lookup the refresh timer started (on its count or a network change).
  static void Start(TMainForm& form, bool automatic);

 private:
  TGetIPThread(TMainForm& form, bool automatic) : form_(form), automatic_(automatic) {}
  void Execute();
  // Shows a lookup's failure unless the box of an earlier one is still open.
  static void ShowLookupMessage(const std::string& text);
  TMainForm& form_;
  const bool automatic_;
};

extern TMainForm* MainForm;
