#include "platform/gtk/desktop_entry.h"

namespace platform::gtk {

namespace {

// Escapes of a desktop-entry string value; applied after the Exec quoting.
std::string escape_string(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string desktop_exec_value(const std::string& program) {
  static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
  const bool quote = program.find_first_of(reserved) != std::string::npos;
  std::string arg;
  for (char c : program) {
    if (c == '%') {
      arg += "%%";
    } else {
      // The backslash escapes only have meaning inside quotes.
      if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) arg += '\\';
      arg += c;
    }
  }
  return escape_string(quote ? "\"" + arg + "\"" : arg);
}

std::string desktop_entry(const std::string& program, const std::string& icon,
                          const std::string& comment) {
  std::string text =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Addrova\n";
  if (!comment.empty()) text += "Comment=" + escape_string(comment) + "\n";
  text += "Exec=" + desktop_exec_value(program) + "\n";
  if (!icon.empty()) text += "Icon=" + escape_string(icon) + "\n";
  text += "Terminal=false\n";
  return text;
}

}  // namespace platform::gtk
