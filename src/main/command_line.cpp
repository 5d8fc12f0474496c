#include "main/command_line.h"

#include "Unit1/retrieval.h"
#include "platform/platform.h"
#include "shared/texts.h"

namespace command_line {

namespace {

constexpr char kUsage[] = "使い方: addrova [--print | --version | --help]\n";

constexpr char kHelp[] =
    "公開 IPv4 アドレスを表示し、クリップボードにコピーします。\n"
    "\n"
    "  (引数なし)  ウィンドウを開く\n"
    "  --print     アドレスを一度取得して標準出力に書き、終了する\n"
    "              (ウィンドウもディスプレイも使わず、クリップボード・保存ファイル・\n"
    "              設定には触れない。取得できなければ標準エラーに「取得エラー」、\n"
    "              終了ステータス 1)\n"
    "  --version   バージョンを表示する\n"
    "  -h, --help  この説明を表示する\n";

// Writes the text and flushes; 1 when it did not all get out (a closed or full output).
int finish(std::FILE* stream, const std::string& text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  return written && std::fflush(stream) == 0 ? 0 : 1;
}

}  // namespace

Request Parse(int argc, const char* const* argv) {
  if (argc <= 1) return {};
  // One option at a time; each of them is a whole run on its own.
  const std::string arg = argv[1];
  if (argc > 2) return {Action::BadUsage, argv[2]};
  if (arg == "--print") return {Action::Print, {}};
  if (arg == "--version") return {Action::Version, {}};
  if (arg == "--help" || arg == "-h") return {Action::Help, {}};
  return {Action::BadUsage, arg};
}

int Run(const Request& request, std::FILE* out, std::FILE* err) {
  switch (request.action) {
    case Action::Window:
      return 0;
    case Action::Version:
      return finish(out, "addrova " ADDROVA_VERSION "\n");
    case Action::Help:
      return finish(out, std::string(kUsage) + "\n" + kHelp);
    case Action::Print: {
      // The lookup alone, as the window's worker does it, with nothing of the window's
      // side effects: no clipboard, no save file, no settings.
      const platform::SocketSession sockets;
      const std::string text = unit1::RetrievePublicAddress();
      if (text == shared::kErrorText) {
        finish(err, text + "\n");
        return 1;
      }
      return finish(out, text + "\n");
    }
    case Action::BadUsage:
      break;
  }
  finish(err, "addrova: 不明な引数です: " + request.bad_argument + "\n" + kUsage);
  return 2;
}

}  // namespace command_line
