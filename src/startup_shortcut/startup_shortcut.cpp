#include "startup_shortcut/startup_shortcut.h"

#include "Unit1/Unit1.h"
#include "platform/platform.h"

namespace {

// Empty when the start-up folder cannot be found: then no link exists and none is made.
std::string LinkPath(const std::string& name) {
  std::string folder;
  if (!platform::startup_folder(MainForm ? &MainForm->Window() : nullptr, folder)) return "";
  return platform::path_join(folder, name);
}

}  // namespace

bool StartupShortcutExists(const std::string& name) {
  const std::string path = LinkPath(name);
  return !path.empty() && platform::file_exists(path);
}

bool RemoveStartupShortcut(const std::string& name) {
  const std::string path = LinkPath(name);
  if (path.empty() || !platform::file_exists(path)) return true;
  try {
    platform::delete_file(path);
  } catch (const std::exception&) {
  }
  if (!platform::file_exists(path)) return true;
  platform::message_box("ファイル \"" + path + "\" を削除できません。");
  return false;
}

bool CreateStartupShortcut(const std::string& name) {
  const std::string path = LinkPath(name);
  if (path.empty()) {
    platform::message_box("スタートアップフォルダが見つかりません");
    return false;
  }
  if (platform::file_exists(path)) return true;
  // SaveShellLink tells of every failure it returns false for.
  bool told = false;
  try {
    told = !SaveShellLink(path, "", platform::executable_path());
  } catch (const std::exception& e) {
    platform::message_box(e.what());
    told = true;
  }
  if (platform::file_exists(path)) return true;
  if (!told) platform::message_box("ファイル \"" + path + "\" を作成できません。");
  return false;
}

bool SaveShellLink(const std::string& link_path, const std::string& description,
                   const std::string& target_path) {
  platform::ShellLink link;
  if (!link.create()) {
    platform::message_box("ファイル \"" + link_path + "\" を作成できません。");
    return false;
  }
  if (!link.set_path(target_path)) platform::message_box("SetPath failed!");
  if (!link.set_description(description)) platform::message_box("SetDescription failed!");
  link.set_icon_location(target_path, 0);
  if (!link.save(link_path)) {
    platform::message_box("Save failed!");
    return false;
  }
  return true;
}
