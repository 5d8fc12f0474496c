#include <cstdio>

#include "Option/Option.h"
#include "Unit1/Unit1.h"
#include "main/command_line.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // Options are handled before the toolkit starts, so that --print needs no display.
  if (platform::kHasCommandLine) {
    const command_line::Request request = command_line::Parse(argc, argv);
    if (request.action != command_line::Action::Window)
      return command_line::Run(request, stdout, stderr);
  }
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
