#include "platform/gtk/desktop_entry.h"

#include <gio/gdesktopappinfo.h>

#include <optional>

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

// The command line GLib runs for the entry, its field codes expanded as at launch; nothing
// when GLib would not launch the entry, or it has a field code other than "%%".
std::optional<std::string> launch_line(const std::string& entry) {
  std::optional<std::string> line;
  GKeyFile* file = g_key_file_new();
  if (g_key_file_load_from_data(file, entry.data(), entry.size(), G_KEY_FILE_NONE, nullptr)) {
    if (GDesktopAppInfo* info = g_desktop_app_info_new_from_keyfile(file)) {
      g_object_unref(info);
      if (gchar* exec = g_key_file_get_string(file, G_KEY_FILE_DESKTOP_GROUP,
                                              G_KEY_FILE_DESKTOP_KEY_EXEC, nullptr)) {
        line.emplace();
        for (const char* p = exec; line && *p; ++p) {
          if (p[0] == '%' && p[1] != '\0' && *++p != '%')
            line.reset();
          else
            line->push_back(*p);
        }
        g_free(exec);
      }
    }
  }
  g_key_file_free(file);
  return line;
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

bool desktop_entry_starts(const std::string& program) {
  // Values are UTF-8 without control characters; tabs and line breaks go as escapes.
  const std::string exec = desktop_exec_value(program);
  if (!g_utf8_validate(exec.data(), static_cast<gssize>(exec.size()), nullptr)) return false;
  for (const char c : exec)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  const std::optional<std::string> line = launch_line(desktop_entry(program, "", ""));
  gint argc = 0;
  gchar** argv = nullptr;
  const bool starts = line && g_shell_parse_argv(line->c_str(), &argc, &argv, nullptr) &&
                      argc == 1 && program == argv[0];
  g_strfreev(argv);
  return starts;
}

}  // namespace platform::gtk
