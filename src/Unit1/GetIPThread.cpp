#include <thread>

#include "Option/Option.h"
#include "Unit1/Unit1.h"
#include "Unit1/retrieval.h"

void TGetIPThread::Start(TMainForm& form, bool automatic) {
  auto* worker = new TGetIPThread(form, automatic);
  std::thread([worker] {
    worker->Execute();
    delete worker;
  }).detach();
}

// Everything that touches a window, a live option or the clipboard is handed to the UI
// thread, in step order. The worker itself never waits for that thread, so closing the
// window while it runs ends the program at once; its late hand-offs are dropped.
void TGetIPThread::Execute() {
  TMainForm& form = form_;
  std::string host, local;
  {
    platform::SocketSession sockets;
    if (sockets.started() && sockets.host_name(host) && sockets.first_ipv4(host, local)) {
      const std::string title = "Addrova : " + host + " ( " + local + " )";
      platform::post_to_ui([&form, title] { form.SetCaption(title); });
    }
    // Without a host name or a local address the title stays as it is, but the public
    // address needs neither, so the lookup goes on and the busy text is always replaced.
  }
  const std::string text = unit1::RetrievePublicAddress(automatic_);
  platform::post_to_ui([&form, text, automatic = automatic_] {
    form.edtIP.set_text(text);
    const bool copy = form.LookupDone(text, automatic);
    try {
      // The result of this lookup, never a later reading of the box: another request
      // may already have put the busy text back.
      const std::string path = TFormOption::SavePath();
      if (TFormOption::SaveToFile() && !path.empty()) platform::save_text_line(path, text);
      if (copy) platform::clipboard_set_text(text);
    } catch (const std::exception& e) {
      ShowLookupMessage(e.what());
    }
  });
}

// A message box runs its own loop, and with a short refresh interval the next lookup
// ends inside it: showing a box for that one too would stack modal boxes, one inside the
// other, for as long as the fault lasts. While a lookup's box is open, later failures
// show nothing; they still reach the address box, as every lookup's result does.
void TGetIPThread::ShowLookupMessage(const std::string& text) {
  static bool open = false;  // UI thread only
  if (open) return;
  open = true;
  struct Closed {
    ~Closed() { open = false; }
  } closed;
  platform::message_box(text);
}
