// The options dialog, the settings file and the start-up entry, driven through the
// dialog's handlers and controls.
#include <fcntl.h>

#include "Unit1/endpoints.h"
#include "gui_fixture.h"
#include "platform/gtk/desktop_entry.h"
#include "platform/gtk/files.h"
#include "settings/settings.h"
#include "startup_shortcut/startup_shortcut.h"

namespace {

class Options : public Gui {
 protected:
  void SetUp() override {
    Gui::SetUp();
    if (IsSkipped()) return;
    ini_ = SettingsPath();
    fs::remove_all(ini_);
  }
  void TearDown() override {
    if (!ini_.empty()) fs::remove_all(ini_);
    Gui::TearDown();
  }
  void write_ini(const std::string& text) { std::ofstream(ini_, std::ios::binary) << text; }
  fs::path autostart_entry() const { return dir_ / "config/autostart/addrova.desktop"; }

  // The dialog on screen without its modal loop, so that widgets get real events.
  GtkWidget* show_dialog() {
    options_->FormShow();
    GtkWidget* w = options_->Window().impl().window;
    gtk_widget_show_all(w);
    pump_until([&] { return gtk_widget_get_mapped(w); });
    return w;
  }
  GtkWidget* sec_entry() { return options_->edtSec.impl().entry; }
  void send_key(GtkWidget* widget, guint keyval) {
    GdkEvent* ev = gdk_event_new(GDK_KEY_PRESS);
    ev->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    ev->key.keyval = keyval;
    gdk_event_set_device(
        ev, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_widget_event(widget, ev);
    gdk_event_free(ev);
  }
  void send_scroll(GtkWidget* widget, GdkScrollDirection direction) {
    GdkEvent* ev = gdk_event_new(GDK_SCROLL);
    ev->scroll.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    ev->scroll.direction = direction;
    gtk_widget_event(widget, ev);
    gdk_event_free(ev);
  }
  void leave(GtkWidget* widget) {
    GdkEvent* ev = gdk_event_new(GDK_FOCUS_CHANGE);
    ev->focus_change.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    ev->focus_change.in = FALSE;
    gtk_widget_send_focus_change(widget, ev);
    gdk_event_free(ev);
  }
  void type(GtkWidget* entry, const char* text) {
    gint pos = static_cast<gint>(g_utf8_strlen(gtk_entry_get_text(GTK_ENTRY(entry)), -1));
    gtk_editable_insert_text(GTK_EDITABLE(entry), text, -1, &pos);
  }

  fs::path ini_;
};

TEST_F(Options, WithoutAFileTheDefaultsApply) {
  main_->FormShow();
  EXPECT_EQ(options_->edtSec.text(), "5");
  EXPECT_FALSE(options_->cbTimer.checked());
  EXPECT_FALSE(options_->edtSec.enabled());
  EXPECT_FALSE(main_->tmExec.enabled());
  EXPECT_EQ(options_->edtFileName.text(), "");
  EXPECT_FALSE(options_->cbFileSave.checked());
  EXPECT_FALSE(options_->edtFileName.enabled());
}

TEST_F(Options, ACorruptFileGivesTheDefaults) {
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk += static_cast<char>((i * 7919) % 256);
  write_ini(junk + "\n[SETTING\nTIMER=\xFF\n=\n[]\nTIMER_SEC==9\n");
  main_->FormShow();
  EXPECT_EQ(options_->edtSec.text(), "5");
  EXPECT_FALSE(options_->cbTimer.checked());
  EXPECT_FALSE(options_->cbFileSave.checked());
}

TEST_F(Options, StoredSettingsReachTheLiveOptionsAndTheTimer) {
  write_ini("[setting]\ntimer_sec = 0x1F\nTIMER=7\nFILEPATH=/tmp/a b.txt\nFILESAVE=1\n");
  main_->FormShow();
  EXPECT_EQ(options_->edtSec.text(), "31");
  EXPECT_TRUE(options_->cbTimer.checked());
  EXPECT_TRUE(options_->edtSec.enabled());
  EXPECT_TRUE(main_->tmExec.enabled());
  EXPECT_EQ(main_->tmExecTag, 31);
  EXPECT_EQ(options_->edtFileName.text(), "/tmp/a b.txt");
  EXPECT_TRUE(options_->edtFileName.enabled());
  main_->DisarmTimer();
}

TEST_F(Options, SmallAndNegativeStoredIntervalsAreTakenAsTheyAre) {
  write_ini("[SETTING]\r\nTIMER_SEC=2\r\nTIMER=1\r\n");
  main_->FormShow();
  EXPECT_EQ(options_->edtSec.text(), "2");
  EXPECT_EQ(main_->tmExecTag, 2);
  write_ini("[SETTING]\r\nTIMER_SEC=-3\r\nTIMER=1\r\n");
  main_->FormShow();
  EXPECT_EQ(main_->tmExecTag, -3);
  main_->DisarmTimer();
}

TEST_F(Options, ApplyWritesTheFourKeysAndKeepsForeignLines) {
  options_->sButton1Click();
  EXPECT_EQ(read_bytes(ini_), "[SETTING]\r\nTIMER_SEC=5\r\nTIMER=0\r\nFILEPATH=\r\nFILESAVE=0\r\n");

  write_ini("; mine\r\n[Other]\r\nx=1\r\n\r\n[SETTING]\r\nTIMER=7\r\nKEEP=yes\r\n");
  main_->FormShow();
  options_->edtSec.set_text("abc");  // not an integer: stored as 5
  options_->cbFileSave.set_checked(true);
  options_->edtFileName.set_text("/tmp/out.txt");
  options_->sButton1Click();
  EXPECT_EQ(read_bytes(ini_),
            "; mine\r\n[Other]\r\nx=1\r\n\r\n[SETTING]\r\nTIMER=1\r\nKEEP=yes\r\nTIMER_SEC=5\r\n"
            "FILEPATH=/tmp/out.txt\r\nFILESAVE=1\r\n");
  EXPECT_TRUE(main_->tmExec.enabled());
  main_->DisarmTimer();
}

TEST_F(Options, ARefusedWriteShowsTheMessageAndKeepsTheTimerState) {
  fs::create_directory(ini_);  // a directory where the file should be
  options_->cbTimer.set_checked(true);
  BoxCatcher boxes;
  g_idle_add(
      [](gpointer) {
        FormOption->sButton1.click();
        return G_SOURCE_REMOVE;
      },
      nullptr);
  ASSERT_TRUE(pump_until([&] { return !boxes.texts.empty(); }));
  EXPECT_EQ(boxes.texts[0], ini_.string() + " に書き込めません");
  EXPECT_TRUE(main_->tmExec.enabled());
  main_->DisarmTimer();
}

TEST_F(Options, CloseAppliesTheTimerStateWithoutWriting) {
  options_->cbTimer.set_checked(true);
  options_->edtSec.set_text("7");
  options_->btnCloseClick();
  EXPECT_TRUE(main_->tmExec.enabled());
  EXPECT_EQ(main_->tmExecTag, 7);
  options_->cbTimer.set_checked(false);
  options_->btnCloseClick();
  EXPECT_FALSE(main_->tmExec.enabled());
  EXPECT_FALSE(fs::exists(ini_));
}

TEST_F(Options, TitleBarCloseEndsTheDialogAndLeavesTheTimer) {
  g_idle_add(
      [](gpointer) {
        FormOption->cbTimer.set_checked(true);
        gtk_window_close(GTK_WINDOW(FormOption->Window().impl().window));
        return G_SOURCE_REMOVE;
      },
      nullptr);
  main_->btnOptionClick();  // returns when the dialog closes
  EXPECT_FALSE(options_->Window().visible());
  EXPECT_FALSE(main_->tmExec.enabled());
  EXPECT_TRUE(options_->cbTimer.checked());
  EXPECT_FALSE(fs::exists(ini_));
}

TEST_F(Options, CheckBoxesEnableTheirBoxes) {
  options_->cbTimer.set_checked(true);
  EXPECT_TRUE(options_->edtSec.enabled());
  options_->cbTimer.set_checked(false);
  EXPECT_FALSE(options_->edtSec.enabled());
  options_->cbFileSave.set_checked(true);
  EXPECT_TRUE(options_->edtFileName.enabled());
}

TEST_F(Options, IntervalBoxTakesDigitsStepsAndRaisesOnLeaving) {
  options_->cbTimer.set_checked(true);
  show_dialog();
  GtkWidget* e = sec_entry();
  options_->edtSec.set_text("");
  type(e, "1");
  type(e, "a");
  type(e, "-");
  type(e, "2");
  EXPECT_EQ(options_->edtSec.text(), "12");
  type(e, "3z");  // a paste that would not be an integer is undone
  EXPECT_EQ(options_->edtSec.text(), "12");
  type(e, "34");
  EXPECT_EQ(options_->edtSec.text(), "1234");
  options_->edtSec.set_text("12");
  send_key(e, GDK_KEY_Up);
  EXPECT_EQ(options_->edtSec.text(), "13");
  send_scroll(e, GDK_SCROLL_DOWN);
  EXPECT_EQ(options_->edtSec.text(), "12");
  options_->edtSec.set_text("6");
  for (int i = 0; i < 4; ++i) send_key(e, GDK_KEY_Down);
  EXPECT_EQ(options_->edtSec.text(), "5");
  options_->edtSec.set_text("3");  // the program's text is not checked
  EXPECT_EQ(options_->edtSec.text(), "3");
  leave(e);
  EXPECT_EQ(options_->edtSec.text(), "5");
  options_->edtSec.set_text("");
  leave(e);
  EXPECT_EQ(options_->edtSec.text(), "5");
  options_->edtSec.set_text("100000");
  send_key(e, GDK_KEY_Up);
  EXPECT_EQ(options_->edtSec.text(), "100001");
}

TEST_F(Options, PathBoxLimitsTypingButKeepsLongerStoredPaths) {
  GtkWidget* e = options_->edtFileName.impl().entry;
  type(e, std::string(300, 'a').c_str());
  EXPECT_EQ(options_->edtFileName.text(), "");
  type(e, std::string(255, 'a').c_str());
  EXPECT_EQ(options_->edtFileName.text().size(), 255u);
  const std::string stored = "/" + std::string(299, 'b');
  options_->edtFileName.set_text(stored);
  EXPECT_EQ(options_->edtFileName.text(), stored);
}

TEST_F(Options, StartUpBoxCreatesAndRemovesTheEntry) {
  BoxCatcher boxes;
  show_dialog();
  EXPECT_FALSE(options_->cbStartUp.checked());
  options_->cbStartUp.set_checked(true);
  ASSERT_TRUE(fs::exists(autostart_entry()));
  const std::string entry = read_bytes(autostart_entry());
  EXPECT_NE(
      entry.find("Exec=" + platform::gtk::desktop_exec_value(platform::executable_path()) + "\n"),
      std::string::npos);
  const std::string validate = "desktop-file-validate '" + autostart_entry().string() + "'";
  EXPECT_EQ(system(validate.c_str()), 0);
  options_->cbStartUp.set_checked(false);
  EXPECT_FALSE(fs::exists(autostart_entry()));
  pump_until([&] { return boxes.texts.size() == 2; });
  EXPECT_EQ(boxes.texts,
            (std::vector<std::string>{"次回から自動起動されます", "次回から自動起動されません"}));

  // Deleted behind the box's back while it shows ticked: the click creates it again.
  options_->cbStartUp.set_checked(true);
  fs::remove(autostart_entry());
  options_->cbStartUp.set_checked(false);
  EXPECT_TRUE(fs::exists(autostart_entry()));
  EXPECT_TRUE(options_->cbStartUp.checked());
}

// Sets or clears the immutable attribute, which stops root as well.
bool set_immutable(const fs::path& p, bool on) {
  const std::string command =
      std::string("chattr ") + (on ? "+i" : "-i") + " '" + p.string() + "' 2>/dev/null";
  return system(command.c_str()) == 0;
}

TEST_F(Options, AFailedStartUpChangeShowsOnlyTheFailureAndTheBoxTellsTheTruth) {
  BoxCatcher boxes;
  show_dialog();
  {
    SCOPED_TRACE("the start-up folder cannot be created");
    const fs::path file = dir_ / "plain-file";
    std::ofstream(file) << "x";
    const std::string config = getenv("XDG_CONFIG_HOME");
    setenv("XDG_CONFIG_HOME", (file / "config").c_str(), 1);
    options_->cbStartUp.set_checked(true);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"スタートアップフォルダが見つかりません"});
    EXPECT_FALSE(options_->cbStartUp.checked());
    EXPECT_FALSE(fs::exists(file / "config"));
  }
  const fs::path folder = autostart_entry().parent_path();
  fs::create_directories(folder);
  if (!set_immutable(folder, true)) GTEST_SKIP() << "needs chattr on the temporary directory";
  {
    SCOPED_TRACE("the start-up folder cannot be written");
    boxes.texts.clear();
    options_->cbStartUp.set_checked(true);
    set_immutable(folder, false);
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"Save failed!"});
    EXPECT_FALSE(options_->cbStartUp.checked());
    EXPECT_TRUE(fs::is_empty(folder));
  }
  {
    SCOPED_TRACE("the entry cannot be removed");
    options_->cbStartUp.set_checked(true);
    ASSERT_TRUE(fs::exists(autostart_entry()));
    boxes.texts.clear();
    ASSERT_TRUE(set_immutable(autostart_entry(), true));
    options_->cbStartUp.set_checked(false);
    set_immutable(autostart_entry(), false);
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"ファイル \"" + autostart_entry().string() +
                                                    "\" を削除できません。"});
    EXPECT_TRUE(options_->cbStartUp.checked());
    EXPECT_TRUE(fs::exists(autostart_entry()));
  }
  // Once the fault is gone the box works as before.
  boxes.texts.clear();
  options_->cbStartUp.set_checked(false);
  EXPECT_EQ(boxes.texts, std::vector<std::string>{"次回から自動起動されません"});
  EXPECT_FALSE(fs::exists(autostart_entry()));
}

TEST_F(Options, ALinkToAProgramThatIsGoneIsRefused) {
  BoxCatcher boxes;
  const fs::path link = dir_ / "link.desktop";
  EXPECT_FALSE(SaveShellLink(link, "", (dir_ / "no-such-program").string()));
  EXPECT_EQ(boxes.texts, (std::vector<std::string>{"SetPath failed!", "Save failed!"}));
  EXPECT_FALSE(fs::exists(link));
}

TEST_F(Options, AnExistingEntryTicksTheBoxWithoutTouchingIt) {
  fs::create_directories(autostart_entry().parent_path());
  std::ofstream(autostart_entry()) << "[Desktop Entry]\nType=Application\nName=Other\nExec=other\n";
  BoxCatcher boxes;
  TFormOption second;
  EXPECT_TRUE(second.cbStartUp.checked());
  pump_for(50);
  EXPECT_TRUE(boxes.texts.empty());
  EXPECT_TRUE(CreateStartupShortcut(platform::kStartupLinkName));
  EXPECT_NE(read_bytes(autostart_entry()).find("Name=Other"), std::string::npos);
  EXPECT_TRUE(RemoveStartupShortcut(platform::kStartupLinkName));
  EXPECT_TRUE(RemoveStartupShortcut(platform::kStartupLinkName));
  EXPECT_FALSE(StartupShortcutExists(platform::kStartupLinkName));
  SuppressStartUpClick = false;
}

TEST_F(Options, AuthorPanelOpensTheHomePageInTheDefaultBrowser) {
  // A stand-in browser, registered as the desktop's handler for http URLs.
  const fs::path opened = dir_ / "opened.txt";
  fs::create_directories(dir_ / "data/applications");
  fs::create_directories(dir_ / "config");
  std::ofstream(dir_ / "data/applications/addrova-test-browser.desktop")
      << "[Desktop Entry]\nType=Application\nName=Test browser\n"
      << "Exec=/bin/sh -c 'printf %%s \"$1\" > " << opened.string() << "' sh %u\n"
      << "MimeType=x-scheme-handler/http;\n";
  std::ofstream(dir_ / "config/mimeapps.list")
      << "[Default Applications]\nx-scheme-handler/http=addrova-test-browser.desktop\n";
  options_->sPanel1Click();
  ASSERT_TRUE(pump_until([&] { return fs::exists(opened) && fs::file_size(opened) > 0; }));
  EXPECT_EQ(read_bytes(opened), unit1::kHomePageUrl);
}

TEST(DesktopEntry, ExecQuotesWhatTheShellWouldSplit) {
  using platform::gtk::desktop_exec_value;
  EXPECT_EQ(desktop_exec_value("/usr/bin/addrova"), "/usr/bin/addrova");
  EXPECT_EQ(desktop_exec_value("/opt/my apps/Addrova"), "\"/opt/my apps/Addrova\"");
  EXPECT_EQ(desktop_exec_value("/opt/100%/Addrova"), "/opt/100%%/Addrova");
  EXPECT_EQ(desktop_exec_value("/opt/a\"b$c/x"), "\"/opt/a\\\\\"b\\\\$c/x\"");
  EXPECT_EQ(desktop_exec_value("/opt/back\\slash"), "\"/opt/back\\\\\\\\slash\"");
}

TEST(ShellLink, RefusesProgramPathsAnEntryCannotCarry) {
  char tmpl[] = "/tmp/addrova-link-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl;
  const fs::path good = dir / "Addrova", bad = dir / "Addrova\xff";
  std::ofstream(good) << "x";
  std::ofstream(bad) << "x";
  for (const fs::path& target : {bad, dir / "gone", dir}) {
    SCOPED_TRACE(target.string());
    platform::ShellLink link;
    ASSERT_TRUE(link.create());
    EXPECT_FALSE(link.set_path(target));
    EXPECT_FALSE(link.save(dir / "entry.desktop"));
    EXPECT_FALSE(fs::exists(dir / "entry.desktop"));
  }
  platform::ShellLink link;
  ASSERT_TRUE(link.create());
  EXPECT_TRUE(link.set_path(good));
  EXPECT_TRUE(link.save(dir / "entry.desktop"));
  EXPECT_NE(read_bytes(dir / "entry.desktop").find("Exec=" + good.string() + "\n"),
            std::string::npos);
  fs::remove_all(dir);
}

TEST(ProcLinkPath, DropsTheMarkOfAReplacedFile) {
  using platform::gtk::proc_link_path;
  char tmpl[] = "/tmp/addrova-proc-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl;
  const auto fd_link = [](int fd) { return "/proc/self/fd/" + std::to_string(fd); };

  const fs::path program = dir / "Addrova";
  std::ofstream(program) << "old";
  const int old_fd = open(program.c_str(), O_RDONLY);
  ASSERT_GE(old_fd, 0);
  EXPECT_EQ(proc_link_path(fd_link(old_fd)), program.string());
  fs::remove(program);
  EXPECT_EQ(proc_link_path(fd_link(old_fd)), program.string());
  std::ofstream(program) << "new";  // a newer file at the same place
  EXPECT_EQ(proc_link_path(fd_link(old_fd)), program.string());
  close(old_fd);

  // A file whose own name ends in the mark keeps it while it is in place.
  const fs::path marked = dir / "Addrova (deleted)";
  std::ofstream(marked) << "x";
  const int marked_fd = open(marked.c_str(), O_RDONLY);
  ASSERT_GE(marked_fd, 0);
  EXPECT_EQ(proc_link_path(fd_link(marked_fd)), marked.string());
  fs::remove(marked);
  EXPECT_EQ(proc_link_path(fd_link(marked_fd)), marked.string());
  close(marked_fd);

  EXPECT_EQ(proc_link_path(dir / "not-a-link"), "");
  EXPECT_EQ(platform::executable_path(), proc_link_path("/proc/self/exe"));
  fs::remove_all(dir);
}

}  // namespace
