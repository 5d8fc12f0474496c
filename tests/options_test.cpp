// The options dialog, the settings file and the start-up entry, driven through the
// dialog's handlers and controls.
#include <fcntl.h>
#include <gio/gdesktopappinfo.h>

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
  EXPECT_TRUE(options_->cbNotify.checked());
}

TEST_F(Options, ACorruptFileGivesTheDefaults) {
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk += static_cast<char>((i * 7919) % 256);
  write_ini(junk + "\n[SETTING\nTIMER=\xFF\n=\n[]\nTIMER_SEC==9\n");
  main_->FormShow();
  EXPECT_EQ(options_->edtSec.text(), "5");
  EXPECT_FALSE(options_->cbTimer.checked());
  EXPECT_FALSE(options_->cbFileSave.checked());
  EXPECT_TRUE(options_->cbNotify.checked());
}

TEST_F(Options, StoredSettingsReachTheLiveOptionsAndTheTimer) {
  write_ini(
      "[setting]\ntimer_sec = 0x1F\nTIMER=7\nFILEPATH=/tmp/a b.txt\nFILESAVE=1\nnotify= 0x0\n");
  main_->FormShow();
  EXPECT_EQ(options_->edtSec.text(), "31");
  EXPECT_TRUE(options_->cbTimer.checked());
  EXPECT_TRUE(options_->edtSec.enabled());
  EXPECT_TRUE(main_->tmExec.enabled());
  EXPECT_EQ(main_->tmExecTag, 31);
  EXPECT_EQ(options_->edtFileName.text(), "/tmp/a b.txt");
  EXPECT_TRUE(options_->edtFileName.enabled());
  EXPECT_FALSE(options_->cbNotify.checked());
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

TEST_F(Options, ApplyWritesTheFiveKeysAndKeepsForeignLines) {
  options_->sButton1Click();
  EXPECT_EQ(read_bytes(ini_),
            "[SETTING]\r\nTIMER_SEC=5\r\nTIMER=0\r\nFILEPATH=\r\nFILESAVE=0\r\nNOTIFY=1\r\n");

  write_ini("; mine\r\n[Other]\r\nx=1\r\n\r\n[SETTING]\r\nTIMER=7\r\nKEEP=yes\r\n");
  main_->FormShow();
  options_->edtSec.set_text("abc");  // not an integer: stored as 5
  options_->cbFileSave.set_checked(true);
  options_->edtFileName.set_text("/tmp/out.txt");
  options_->cbNotify.set_checked(false);
  options_->sButton1Click();
  EXPECT_EQ(read_bytes(ini_),
            "; mine\r\n[Other]\r\nx=1\r\n\r\n[SETTING]\r\nTIMER=1\r\nKEEP=yes\r\nTIMER_SEC=5\r\n"
            "FILEPATH=/tmp/out.txt\r\nFILESAVE=1\r\nNOTIFY=0\r\n");
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

// Pastes through the clipboard as Ctrl+V would, and waits for the entry to take it.
void paste(GtkWidget* entry, const char* text) {
  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), text, -1);
  g_signal_emit_by_name(entry, "paste-clipboard");
  pump_for(150);
}

std::pair<int, int> selection(GtkWidget* entry) {
  int start = 0, end = 0;
  gtk_editable_get_selection_bounds(GTK_EDITABLE(entry), &start, &end);
  return {start, end};
}

TEST_F(Options, IntervalBoxUndoesARefusedReplacementWhole) {
  options_->cbTimer.set_checked(true);
  show_dialog();
  GtkWidget* e = sec_entry();
  gtk_widget_grab_focus(e);
  options_->edtSec.set_text("12");
  gtk_editable_select_region(GTK_EDITABLE(e), 0, -1);
  paste(e, "abc");
  EXPECT_EQ(options_->edtSec.text(), "12");
  EXPECT_EQ(selection(e), std::make_pair(0, 2));
  paste(e, "-");
  EXPECT_EQ(options_->edtSec.text(), "12");

  // A selection inside the text, replaced by what would not read as an integer.
  options_->edtSec.set_text("123");
  gtk_editable_select_region(GTK_EDITABLE(e), 1, 2);
  paste(e, "x9");
  EXPECT_EQ(options_->edtSec.text(), "123");
  EXPECT_EQ(selection(e), std::make_pair(1, 2));
  paste(e, "45");
  EXPECT_EQ(options_->edtSec.text(), "1453");

  // Typed over a selection: a letter is dropped and the selection stays, a digit replaces.
  options_->edtSec.set_text("34");
  gtk_editable_select_region(GTK_EDITABLE(e), 0, -1);
  send_key(e, GDK_KEY_a);
  pump_for(20);
  EXPECT_EQ(options_->edtSec.text(), "34");
  EXPECT_EQ(selection(e), std::make_pair(0, 2));
  send_key(e, GDK_KEY_7);
  EXPECT_EQ(options_->edtSec.text(), "7");

  // Deleting alone is no refused edit, and does not bring old text back later.
  options_->edtSec.set_text("56");
  gtk_editable_select_region(GTK_EDITABLE(e), 0, -1);
  g_signal_emit_by_name(e, "backspace");
  EXPECT_EQ(options_->edtSec.text(), "");
  pump_for(20);
  send_key(e, GDK_KEY_b);
  EXPECT_EQ(options_->edtSec.text(), "");
  paste(e, "89");
  EXPECT_EQ(options_->edtSec.text(), "89");
}

TEST_F(Options, IntervalBoxFitsItsRowAndItsArrowsStep) {
  options_->cbTimer.set_checked(true);
  show_dialog();
  GtkWidget* box = options_->edtSec.impl().widget;
  EXPECT_EQ(gtk_widget_get_allocated_height(box), 21);
  EXPECT_EQ(gtk_widget_get_allocated_width(box), 49);
  GtkAllocation entry;
  gtk_widget_get_allocation(sec_entry(), &entry);
  EXPECT_GE(entry.width, 30);
  std::vector<GtkWidget*> arrows;
  GList* parts = gtk_container_get_children(GTK_CONTAINER(box));
  GList* column = gtk_container_get_children(GTK_CONTAINER(g_list_last(parts)->data));
  for (GList* l = column; l; l = l->next) arrows.push_back(GTK_WIDGET(l->data));
  g_list_free(column);
  g_list_free(parts);
  ASSERT_EQ(arrows.size(), 2u);
  for (GtkWidget* a : arrows) {
    GtkAllocation r;
    gtk_widget_get_allocation(a, &r);
    EXPECT_GE(r.height, 9);
    EXPECT_GE(r.width, 12);
  }
  options_->edtSec.set_text("8");
  gtk_button_clicked(GTK_BUTTON(arrows[0]));
  EXPECT_EQ(options_->edtSec.text(), "9");
  gtk_button_clicked(GTK_BUTTON(arrows[1]));
  gtk_button_clicked(GTK_BUTTON(arrows[1]));
  EXPECT_EQ(options_->edtSec.text(), "7");
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

// A file name is bytes: one that is not UTF-8, or longer than any box would take, is read,
// saved to and written back exactly as stored, whatever the box shows.
TEST_F(Options, StoredSavePathsSurviveReadingAndApplyByteForByte) {
  fs::path deep = dir_;
  for (int i = 0; i < 12; ++i) deep /= std::string(250, static_cast<char>('a' + i));
  fs::create_directories(deep);
  const std::string latin1 = (dir_ / "caf\xe9.txt").string(),
                    long_path = (deep / "ip.txt").string();
  ASSERT_GT(long_path.size(), 3000u);
  for (const std::string& path : {latin1, long_path}) {
    const std::string stored = "[SETTING]\r\nFILEPATH=" + path + "\r\nFILESAVE=1\r\n";
    write_ini(stored);
    main_->FormShow();
    EXPECT_EQ(options_->edtFileName.text(), path);
    EXPECT_EQ(lookup(), "127.0.0.1");
    EXPECT_EQ(read_bytes(path), "127.0.0.1\r\n");
    options_->sButton1Click();
    EXPECT_EQ(read_bytes(ini_), stored + "TIMER_SEC=5\r\nTIMER=0\r\nNOTIFY=1\r\n");
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(deep), {}), 1);

  // The box shows the bytes it cannot hold replaced; once edited, its text is the path.
  BoxCatcher boxes;
  options_->edtFileName.set_text((dir_ / "gone" / "caf\xe9.txt").string());
  GtkWidget* e = options_->edtFileName.impl().entry;
  const std::string shown = (dir_ / "gone" / "caf\uFFFD.txt").string();
  EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(e)), shown);
  EXPECT_EQ(lookup(), "127.0.0.1");
  ASSERT_TRUE(pump_until([&] { return !boxes.texts.empty(); }));
  EXPECT_EQ(boxes.texts[0].rfind("ファイル \"" + shown + "\" を作成できません。", 0), 0u);
  type(e, "x");
  EXPECT_EQ(options_->edtFileName.text(), shown + "x");
}

GtkWidget* browse_button(platform::FileNameEdit& edit) {
  GList* parts = gtk_container_get_children(GTK_CONTAINER(edit.impl().widget));
  GtkWidget* button = GTK_WIDGET(g_list_last(parts)->data);
  g_list_free(parts);
  return button;
}

TEST_F(Options, PathChosenInTheSaveDialogIsTakenWhole) {
  options_->cbFileSave.set_checked(true);
  show_dialog();
  // Three folders of 100 characters: a path longer than typing may make.
  fs::path folder = dir_;
  for (char c : {'x', 'y', 'z'}) folder /= std::string(100, c);
  fs::create_directories(folder);
  options_->edtFileName.set_text("/tmp/before.txt");
  // The dialog answered as a user would: a folder, a name, Save.
  std::string offered;
  const auto real_dialog = platform::gtk::run_save_dialog;
  platform::gtk::run_save_dialog = [&](GtkFileChooser* chooser) {
    gchar* name = gtk_file_chooser_get_current_name(chooser);
    offered = name ? name : "";
    g_free(name);
    return std::optional<std::string>((folder / "chosen").string());
  };
  gtk_button_clicked(GTK_BUTTON(browse_button(options_->edtFileName)));
  platform::gtk::run_save_dialog = real_dialog;
  EXPECT_EQ(offered, "before.txt");
  const std::string expected = (folder / "chosen.txt").string();
  EXPECT_GT(g_utf8_strlen(expected.c_str(), -1), 255);
  EXPECT_EQ(options_->edtFileName.text(), expected);
  // Typing is still limited.
  type(options_->edtFileName.impl().entry, "a");
  EXPECT_EQ(options_->edtFileName.text(), expected);
}

TEST_F(Options, PictureButtonsHaveATooltipAndAnAccessibleName) {
  GtkWidget* browse = browse_button(options_->edtFileName);
  GtkWidget* gear = main_->btnOption.impl().widget;
  for (auto [widget, name] : {std::pair{browse, "参照"}, std::pair{gear, "設定"}}) {
    gchar* tip = gtk_widget_get_tooltip_text(widget);
    EXPECT_STREQ(tip, name);
    g_free(tip);
    EXPECT_STREQ(atk_object_get_name(gtk_widget_get_accessible(widget)), name);
  }
}

TEST_F(Options, DialogIsCentredEveryTimeItShows) {
  int width = 0, height = 0;
  ASSERT_TRUE(platform::display_mode(width, height));
  std::vector<platform::Rect> shown;
  struct Step {
    std::vector<platform::Rect>* shown;
    bool move_away;
  };
  auto show_once = [&](bool move_away) {
    Step step{&shown, move_away};
    g_idle_add(
        [](gpointer data) {
          auto& s = *static_cast<Step*>(data);
          platform::Window& w = FormOption->Window();
          GtkWidget* window = w.impl().window;
          pump_until([&] { return gtk_widget_get_mapped(window); });
          pump_for(100);
          s.shown->push_back(w.outer_rect());
          if (s.move_away) {
            gtk_window_move(GTK_WINDOW(window), 5, 7);
            pump_until([&] { return w.outer_rect().left != s.shown->back().left; });
            s.shown->push_back(w.outer_rect());
          }
          w.end_modal();
          return G_SOURCE_REMOVE;
        },
        &step);
    main_->btnOptionClick();
  };
  show_once(true);
  show_once(false);
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_NE(shown[1].left, shown[0].left);  // it did move away
  for (std::size_t i : {0u, 2u}) {
    const platform::Rect& r = shown[i];
    EXPECT_NEAR(r.left, (width - (r.right - r.left)) / 2, 1) << i;
    EXPECT_NEAR(r.top, (height - (r.bottom - r.top)) / 2, 1) << i;
  }
}

// The author panel's pixels with and without the keyboard focus on it.
TEST_F(Options, AuthorPanelShowsAFocusMarkAndTakesSpaceAndEnter) {
  GtkWidget* window = show_dialog();
  GtkWidget* panel = options_->sPanel1.impl().widget;
  auto snapshot = [&] {
    pump_for(50);
    const int w = gtk_widget_get_allocated_width(panel), h = gtk_widget_get_allocated_height(panel);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    gtk_widget_draw(panel, cr);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    const auto* px = cairo_image_surface_get_data(s);
    std::string pixels(reinterpret_cast<const char*>(px), cairo_image_surface_get_stride(s) * h);
    cairo_surface_destroy(s);
    return pixels;
  };
  // The window active, as the window manager would make it, and the keyboard in use.
  GdkEvent* focus_in = gdk_event_new(GDK_FOCUS_CHANGE);
  focus_in->focus_change.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
  focus_in->focus_change.in = TRUE;
  gtk_widget_send_focus_change(window, focus_in);
  gdk_event_free(focus_in);
  gtk_window_set_focus_visible(GTK_WINDOW(window), TRUE);
  options_->btnClose.focus();
  const std::string unfocused = snapshot();
  options_->sPanel1.focus();
  ASSERT_TRUE(gtk_widget_has_visible_focus(panel));
  EXPECT_NE(snapshot(), unfocused);

  int clicks = 0;
  options_->sPanel1.on_click([&] { ++clicks; });
  send_key(panel, GDK_KEY_space);
  send_key(panel, GDK_KEY_Return);
  send_key(panel, GDK_KEY_a);
  EXPECT_EQ(clicks, 2);
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
  const fs::path folder = autostart_entry().parent_path();
  {
    SCOPED_TRACE("the start-up folder cannot be created");
    // GLib reads XDG_CONFIG_HOME once per process, so instead of pointing it elsewhere a
    // plain file takes the start-up folder's place.
    fs::remove_all(folder);  // made when the dialog looked for the entry
    std::ofstream(folder) << "x";
    options_->cbStartUp.set_checked(true);
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"スタートアップフォルダが見つかりません"});
    EXPECT_FALSE(options_->cbStartUp.checked());
    EXPECT_EQ(read_bytes(folder), "x");  // no folder made in its place
    fs::remove(folder);
  }
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

// A program file, executable, with the given text.
fs::path program_file(const fs::path& path, const std::string& text = "x") {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

TEST(ShellLink, RefusesProgramPathsAnEntryCannotCarry) {
  char tmpl[] = "/tmp/addrova-link-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl;
  const fs::path good = program_file(dir / "Addrova");
  // Not UTF-8; control characters, which no entry may hold; a "%", which GLib looks for as
  // written before "%%" stands for it; a file that is gone; a folder.
  for (const fs::path& target :
       {program_file(dir / "Addrova\xff"), program_file(dir / "a\x01" / "Addrova"),
        program_file(dir / "Addrova\x7f"), program_file(dir / "100%done" / "Addrova"), dir / "gone",
        dir}) {
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

// Launched as the desktop does it, the entry runs the very file, whatever the shell or the
// entry's escapes would make of its path.
TEST(ShellLink, TheEntryStartsExactlyTheProgram) {
  char tmpl[] = "/tmp/addrova-link-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl, ran = dir / "ran", entry = dir / "entry.desktop";
  const fs::path program = program_file(dir / "my apps\t\"$HOME\" `x` 'q' a\\b;*" / "Addrova",
                                        "#!/bin/sh\nprintf %s \"$0\" > '" + ran.string() + "'\n");
  platform::ShellLink link;
  ASSERT_TRUE(link.create());
  ASSERT_TRUE(link.set_path(program));
  ASSERT_TRUE(link.save(entry));
  EXPECT_EQ(system(("desktop-file-validate '" + entry.string() + "'").c_str()), 0);
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(entry.c_str());
  ASSERT_NE(info, nullptr);
  EXPECT_TRUE(g_app_info_launch(G_APP_INFO(info), nullptr, nullptr, nullptr));
  g_object_unref(info);
  EXPECT_TRUE(pump_until([&] { return fs::exists(ran) && fs::file_size(ran) > 0; }));
  EXPECT_EQ(read_bytes(ran), program.string());
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
