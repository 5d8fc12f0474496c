// The thin layer over the operating system. The program is written against this header
// alone; one back end per platform implements it (platform/gtk, platform/win32).
// Text crossing this interface is UTF-8, but for paths on Linux: a file name there is any
// bytes but NUL, so a path (and what carries one: a FileNameEdit's text, a profile value,
// an Error's message) passes through byte for byte, UTF-8 or not, and reaches the file
// system as it is. Only what is shown on screen has such bytes replaced, for display.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace platform {

// The toolkit's exception: its message is shown to the user as it stands.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// Position and size of a control in its window's client pixels.
struct Geometry {
  int left, top, width, height;
};

// ---- application -------------------------------------------------------------------

// Whether the program reads options of its own from its command line (--print and the
// like). Where it does not, the arguments are left alone and the window always opens.
extern const bool kHasCommandLine;

void init(int& argc, char**& argv);
// Runs the message loop until the main window closes. Hand-offs that arrive after it
// returned are dropped.
void run_message_loop();
// Called once the next time the message queue runs dry; set an empty function to remove.
void set_idle_hook(std::function<void()> hook);
// The one way for another thread to reach the UI thread: runs fn there, in posting order.
void post_to_ui(std::function<void()> fn);
bool on_ui_thread();

// Why run_terminal_loop returned.
enum class TerminalEnd {
  Quit,          // quit_terminal_loop was called
  Signalled,     // the process was asked to end (SIGINT, SIGTERM)
  OutputClosed,  // standard output is closed, or the reader of its pipe went away
};
// The loop of a run that stays in the terminal, in place of init() and run_message_loop:
// no window and no display. Timers, post_to_ui and on_network_change work in it as in the
// window's loop; `start` runs on it first. It returns at the first of the ends above: a
// worker still running is not waited for, and hand-offs that arrive later are dropped.
// From its call on, a write to a standard output whose reader went away fails (EPIPE) instead
// of ending the process.
TerminalEnd run_terminal_loop(const std::function<void()>& start);
void quit_terminal_loop();

// The executable's file name up to its first dot, the rest of it in lower case.
std::string application_title();
std::string executable_path();
// Directory of the executable, ending in a separator.
std::string executable_directory();

// Plain modal message box with one text and OK, captioned with the application title.
void message_box(const std::string& text);
// The toolkit's standard exception message box.
void show_exception(const std::exception& e);
void beep();

// ---- windows and controls ----------------------------------------------------------

class Window;

class Control {
 public:
  struct Impl;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;
  virtual ~Control();
  void set_enabled(bool on);
  bool enabled() const;
  void set_hand_cursor();
  // Tooltip and accessible name, for a control whose face shows no text.
  void set_hint(const std::string& text);
  void focus();
  Impl& impl() const { return *impl_; }

 protected:
  explicit Control(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Font heights are in pixels, negative for the character height as Windows counts it.
constexpr int kDefaultFontHeight = -11;

class Label : public Control {
 public:
  Label(Window& parent, Geometry g, const std::string& text, int font_height = kDefaultFontHeight);
};

class Edit : public Control {
 public:
  Edit(Window& parent, Geometry g, int font_height = kDefaultFontHeight, bool centred = false);
  std::string text() const;
  void set_text(const std::string& text);
};

// Names a picture resource carried in the executable.
struct PictureName {
  const char* name;
};

class Button : public Control {
 public:
  Button(Window& parent, Geometry g, const std::string& caption);
  // Flat button showing the named picture instead of a caption.
  Button(Window& parent, Geometry g, PictureName picture);
  void on_click(std::function<void()> handler);
  // Activates the button's click operation, as a user's click would.
  void click();
};

// The handler runs on every change of state, by the user or by set_checked.
class CheckBox : public Control {
 public:
  CheckBox(Window& parent, Geometry g, const std::string& caption);
  bool checked() const;
  void set_checked(bool on);
  void on_click(std::function<void()> handler);
};

// Integer box with arrows: digits and editing keys only, steps by one, never below
// `minimum` when stepped or left; text set by the program is taken as it is.
class SpinEdit : public Control {
 public:
  SpinEdit(Window& parent, Geometry g, int minimum);
  std::string text() const;
  void set_text(const std::string& text);
};

// Edit box with a browse button opening the Save dialog. `filter` is "Name|pattern|…".
// text() gives back what set_text or the dialog put there, unchanged, until the user edits
// the box; from then on it is what the box shows.
class FileNameEdit : public Control {
 public:
  FileNameEdit(Window& parent, Geometry g, int max_length, const std::string& filter,
               const std::string& default_ext);
  std::string text() const;
  void set_text(const std::string& text);
};

// Clickable panel with a centred caption.
class Panel : public Control {
 public:
  Panel(Window& parent, Geometry g, const std::string& caption);
  void on_click(std::function<void()> handler);
};

class Picture : public Control {
 public:
  Picture(Window& parent, Geometry g, PictureName picture);
};

class Window {
 public:
  struct Impl;
  enum class Kind { Main, Dialog };
  Window(Kind kind, const std::string& title, int client_width, int client_height);
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  ~Window();
  std::string title() const;
  void set_title(const std::string& title);
  void on_show(std::function<void()> handler);
  // Shows the window and runs a nested loop until end_modal or the title-bar close.
  void show_modal();
  void end_modal();
  bool visible() const;
  Rect outer_rect() const;
  void move(int left, int top);
  Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// Periodic timer on the UI thread, disabled at first; enabling a running timer keeps its
// period.
class Timer {
 public:
  struct Impl;
  Timer(int period_ms, std::function<void()> on_tick);
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  ~Timer();
  bool enabled() const;
  void set_enabled(bool on);

 private:
  std::unique_ptr<Impl> impl_;
};

// ---- display, clipboard, shell -----------------------------------------------------

// Desktop work area of the primary display; false when it cannot be read.
bool work_area(Rect& r);
// Current mode of the primary display in pixels; false when it cannot be read.
bool display_mode(int& width, int& height);

// Throws Error("クリップボード <reason> を開けません") when the clipboard cannot be opened,
// after waiting a tenth of a second for another program that holds it, or cannot take the
// text. Text without line breaks reads back as it was set; line breaks may come back in
// the system's own form.
void clipboard_set_text(const std::string& text);
std::string clipboard_text();

// Opens an http URL in the user's browser.
void open_url(Window& owner, const std::string& url);

// ---- notifications and network changes ---------------------------------------------

// Shows a desktop notification with the program's icon, in place of the one shown before in
// this run. It returns at once and never waits for the desktop: where there is no
// notification service, or it does not answer, nothing is shown and nothing is reported.
void notify(const std::string& summary, const std::string& body);
// From now on runs fn on the UI thread after changes of the machine's IPv4 network (a route
// that comes or goes, as with a link, an address or a VPN); a burst of changes may come as
// several calls. A later call replaces fn; an empty fn ends the calls.
void on_network_change(std::function<void()> fn);

// ---- files -------------------------------------------------------------------------

// The user's private temporary directory, ending in a separator; empty if there is none.
// Nobody else can take its place: when the usual one belongs to somebody else, is a link,
// is open to others or cannot be made, a new private one with a name nobody can guess is
// made instead, once for the run, and given to every later caller. Safe to call from any
// thread.
std::string temp_directory();
bool file_exists(const std::string& path);
bool delete_file(const std::string& path);
// Makes a new, empty file in the directory `dir` (ending in a separator), its name `stem`
// followed by characters chosen so that no other caller, in this process or another, is
// given the same file; the file's path, or empty when none can be made.
std::string create_unique_file(const std::string& dir, const std::string& stem);
// Puts the file at `from` in the place of `to` in one step: whatever stood at `to`, a
// symbolic link included, is replaced, never written through. False when it cannot.
bool move_file(const std::string& from, const std::string& to);
// Up to max_bytes from the start of the file; false when it cannot be opened.
bool read_file_prefix(const std::string& path, std::size_t max_bytes, std::string& out);
// Makes the file hold the text and a CR LF, in the platform's 8-bit text encoding. It never
// waits on what stands at the path, and nobody, not even after the process is killed
// part-way, finds the file empty or holding part of a line: the old content stays whole
// until the new is complete. Only a regular file is written, or created where nothing is;
// anything else (a pipe, a socket, a device, a folder) is refused. A symbolic link at the
// path is followed, through any chain of links, to the file it finally leads to, which is
// then written or created the same way; the link stays as it is. An existing file keeps
// its permissions and, where the system lets us, its owner. Where its folder does not let
// us create the new content beside it, an existing file is rewritten where it stands:
// never empty, but a reader may then briefly see the rest of a longer old line after the
// new one, and a process killed at that moment leaves it there. Throws Error with the
// toolkit's message: "ファイル "<path>" を作成できません。<reason>" when the path is
// refused or cannot be created, "ファイル "<path>" に書き込めません。<reason>" when writing
// fails; the file is then as it was.
void save_text_line(const std::string& path, const std::string& text);

// ---- network -----------------------------------------------------------------------

// Socket library session: started by the constructor, shut down by the destructor.
class SocketSession {
 public:
  SocketSession();
  SocketSession(const SocketSession&) = delete;
  SocketSession& operator=(const SocketSession&) = delete;
  ~SocketSession();
  bool started() const { return started_; }
  bool host_name(std::string& name) const;
  // First IPv4 address of the name, in dotted form.
  bool first_ipv4(const std::string& name, std::string& dotted) const;

 private:
  bool started_ = false;
};

// Limits of every download: one that has received no byte of an answer connect_timeout_ms
// after it began (or after the request that followed a redirect was sent) fails, a server
// that takes the connection and stays silent included; one not done after total_timeout_ms
// fails. A body longer than max_bytes never reaches the file whole: the download either
// fails (Windows) or ends there and succeeds with the body's first max_bytes bytes (GTK,
// where only the start of the reply counts).
struct DownloadLimits {
  long connect_timeout_ms = 10000;
  long total_timeout_ms = 30000;
  std::size_t max_bytes = 64 * 1024;
};
void set_download_limits(const DownloadLimits& limits);
// What the last answer of a download said: its HTTP status (0 when no answer came) and its
// Retry-After header as sent (empty without one).
struct DownloadReply {
  int status = 0;
  std::string retry_after;
};
// Blocking download of url into path; true when the download succeeded. A failed download
// leaves the file at path as it was. Only http and https; at most five redirects are
// followed, and one into this machine or its network (logic/ipv4_scope.h: the local ranges
// and the machine's own addresses) only from an origin there; a refused redirect is
// never asked for. `reply`, when given, receives what the last answer said, so that a
// failed download tells why.
bool download_to_file(const std::string& url, const std::string& path,
                      DownloadReply* reply = nullptr);

// ---- profile (ini) file ------------------------------------------------------------

// One key at a time through the system's profile-file interface. A value reads back whole,
// however long. A refused write throws Error("<path> に書き込めません"). The destructor
// asks the system to flush its cache.
class IniFile {
 public:
  explicit IniFile(std::string path);
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;
  ~IniFile();
  std::string read_string(const std::string& section, const std::string& key,
                          const std::string& def) const;
  int read_integer(const std::string& section, const std::string& key, int def) const;
  void write_string(const std::string& section, const std::string& key, const std::string& value);
  void write_integer(const std::string& section, const std::string& key, int value);

 private:
  std::string path_;
};

// ---- settings file -----------------------------------------------------------------

// Where the settings file `file_name` is read from: beside the executable when the user
// may write there (a portable copy); otherwise the user's own copy when there is one, else
// the one beside the executable, which an administrator may have provided as defaults.
std::string settings_path_for_reading(const std::string& file_name);
// Where the settings file `file_name` is written: beside the executable when the user may
// write there; otherwise in the user's own settings folder, which is created if missing.
std::string settings_path_for_writing(const std::string& file_name);

// ---- start-up registration -----------------------------------------------------------

// Name of the start-up link file: "addrova.lnk" on Windows, a desktop entry elsewhere.
extern const char* const kStartupLinkName;
// The per-user folder the system starts at logon; false when it cannot be found.
bool startup_folder(Window* owner, std::string& path);
std::string path_join(const std::string& dir, const std::string& name);

// The system's shell-link object. Each step mirrors one method of the object.
class ShellLink {
 public:
  struct Impl;
  ShellLink();  // initialises the component library for this thread
  ShellLink(const ShellLink&) = delete;
  ShellLink& operator=(const ShellLink&) = delete;
  ~ShellLink();  // releases what was created, then uninitialises
  bool create();
  bool set_path(const std::string& target);
  bool set_description(const std::string& description);
  bool set_icon_location(const std::string& file, int index);
  bool save(const std::string& link_path);

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
