#include "Option/Option.h"
#include "Unit1/Unit1.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  try {
    platform::init(argc, argv);
    TMainForm main_form;
    MainForm = &main_form;
    TFormOption option_form;
    FormOption = &option_form;
    platform::run_message_loop();
    // A lookup still running is not waited for; its hand-offs are dropped from here on.
    FormOption = nullptr;
    MainForm = nullptr;
  } catch (const std::exception& e) {
    platform::show_exception(e);
    return 1;
  } catch (...) {
    platform::show_exception(platform::Error(""));
    return 1;
  }
  return 0;
}
