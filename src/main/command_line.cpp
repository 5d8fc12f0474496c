#include "main/command_line.h"

#include <charconv>
#include <climits>
#include <cstring>

#include "Unit1/retrieval.h"
#include "logic/texts.h"
#include "main/watch.h"
#include "platform/platform.h"

namespace command_line {

namespace {

constexpr char kUsage[] = "使い方: addrova [--print | --watch [N] | --version | --help]\n";

constexpr char kHelp[] =
    "公開 IPv4 アドレスを表示し、クリップボードにコピーします。\n"
    "\n"
    "  (引数なし)  ウィンドウを開く\n"
    "  --print     アドレスを一度取得して標準出力に書き、終了する\n"
    "              (ウィンドウもディスプレイも使わず、クリップボード・保存ファイル・\n"
    "              設定には触れない。取得できなければ標準エラーに「取得エラー」、\n"
    "              終了ステータス 1)\n"
    "  --watch [N] 起動時、N 秒ごと (既定 300、5 以上) とネットワークの変化の後に\n"
    "              アドレスを取得し、結果が変わるたびに「時刻<タブ>アドレス」の一行を\n"
    "              標準出力に書く (時刻は ISO 8601 の現地時刻、取得できなければ\n"
    "              「取得エラー」。クリップボード・保存ファイル・設定には触れない。\n"
    "              SIGINT (Ctrl+C) か SIGTERM で終了ステータス 0、標準出力が閉じると 1)\n"
    "              例: addrova --watch 600 |\n"
    "                  while IFS=$'\\t' read -r when address; do …; done\n"
    "  --version   バージョンを表示する\n"
    "  -h, --help  この説明を表示する\n";

// Writes the text and flushes; 1 when it did not all get out (a closed or full output).
int finish(std::FILE* stream, const std::string& text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  return written && std::fflush(stream) == 0 ? 0 : 1;
}

constexpr int kDefaultWatchSeconds = 300;
constexpr int kMinWatchSeconds = 5;
// The interval is timed in milliseconds, as an int.
constexpr int kMaxWatchSeconds = INT_MAX / 1000;

// A decimal integer in range, nothing before or after it.
bool ParseWatchSeconds(const char* text, int& seconds) {
  const char* end = text + std::strlen(text);
  int value = 0;
  const auto [stop, error] = std::from_chars(text, end, value);
  if (error != std::errc() || stop != end || value < kMinWatchSeconds || value > kMaxWatchSeconds)
    return false;
  seconds = value;
  return true;
}

}  // namespace

Request Parse(int argc, const char* const* argv) {
  if (argc <= 1) return {};
  // One option at a time; each of them is a whole run on its own.
  const std::string arg = argv[1];
  if (arg == "--watch") {
    Request watch{Action::Watch, {}, false, kDefaultWatchSeconds};
    if (argc > 3) return {Action::BadUsage, argv[3]};
    if (argc == 3 && !ParseWatchSeconds(argv[2], watch.seconds))
      return {Action::BadUsage, argv[2], true};
    return watch;
  }
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
    case Action::Watch:
      return watch::Run(request.seconds, out);
    case Action::BadUsage:
      break;
  }
  const std::string why =
      request.bad_seconds
          ? "--watch の秒数は " + std::to_string(kMinWatchSeconds) + " 以上の整数です: "
          : "不明な引数です: ";
  finish(err, "addrova: " + why + request.bad_argument + "\n" + kUsage);
  return 2;
}

}  // namespace command_line
