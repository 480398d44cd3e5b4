// Working on text in another program's window: remembering which window of
// another program was last in front, bringing it back, sending it
// select-all, copy and paste keystrokes, and feeding decrypted text to an
// external editor. The desktop itself (X11 in the program, a fake in the
// tests) sits behind WindowSystem and Timer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "textcrypt/desktop.h"

namespace morvantile {

struct Settings;
struct RuntimeState;
class ClipboardExchange;

using WindowId = std::uint64_t;  // 0 = none

// One key of the keyboard as the desktop knows it: `key` is the desktop's
// own key code (0 = the keymap has no such key) and `shift` whether Shift
// must be held to type the character.
struct KeyStroke {
    unsigned key = 0;
    bool shift = false;
};

// What the automation needs from the desktop.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // The window that has the user's input now; 0 when none.
    virtual WindowId foreground_window() = 0;
    // Its caption as UTF-8; empty when it has none or is gone.
    virtual std::string window_title(WindowId window) = 0;
    virtual void set_window_title(WindowId window, std::string_view title) = 0;
    // Whether the id still names a window.
    virtual bool is_window(WindowId window) = 0;
    // Whether the window belongs to this program.
    virtual bool own_window(WindowId window) = 0;
    // Whether the window is part of the desktop itself rather than a
    // program's document window: the desktop, a dock or panel, a
    // notification, a tooltip, a menu or a splash screen. Text is never
    // taken from, nor keys sent to, such a window.
    virtual bool desktop_part(WindowId window) = 0;
    // Asks for the window to become the active one; returns at once (the
    // caller waits until foreground_window() says so).
    virtual void activate(WindowId window) = 0;
    // Un-minimises the window.
    virtual void restore(WindowId window) = 0;

    // The desktop's top-level application windows, in the window manager's
    // order.
    virtual std::vector<WindowId> client_windows() = 0;
    // The process that owns the window; 0 when unknown.
    virtual std::int64_t window_process(WindowId window) = 0;
    // Full path of the program file a process runs; empty when unknown.
    virtual std::string process_program_file(std::int64_t pid) = 0;
    // Full path of the program `name` would start (looked up on PATH when
    // it has no "/"); empty when not found.
    virtual std::string find_program(std::string_view name) = 0;
    // Starts a program detached from this one, with no shell; its process
    // id, or 0 when it could not be started.
    virtual std::int64_t start_process(const std::vector<std::string>& argv) = 0;
    // The desktop's name for the program behind a window (a Wayland
    // application id such as "org.gnome.gedit"), for desktops that cannot
    // tell a window's process; empty when unknown.
    virtual std::string window_app_id(WindowId) { return {}; }

    // The key that types `vk` (a Windows virtual-key code: letters, digits,
    // F-keys, cursor keys, Shift 0x10, Ctrl 0x11, Alt 0x12...).
    virtual KeyStroke key_for_vk(std::uint8_t vk) = 0;
    // The key and shift level that type the character in the current
    // keyboard layout, searching every layout group.
    virtual KeyStroke key_for_char(char c) = 0;
    // One key transition to the active window, delivered at once.
    virtual void key_event(unsigned key, bool down) = 0;
    // Whether the user is still holding Shift, Ctrl, Alt or the logo key.
    virtual bool modifiers_held() = 0;

    // Whether another program has taken the clipboard since this program
    // last wrote it.
    virtual bool clipboard_taken() = 0;

    // Desktops where a program must be allowed to type into others (the
    // remote-desktop portal) ask the user here, the first time keys are
    // needed, and may be refused; false then, or when the desktop could not
    // be asked. Desktops that need no permission answer true.
    virtual bool prepare_keystrokes() { return true; }

    // Milliseconds from a monotonic clock.
    virtual std::uint64_t tick_ms() = 0;
    // Lets events run for `ms` milliseconds without spinning the CPU.
    virtual void wait(int ms) = 0;
};

// A repeating timer of the main window.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void start(int interval_ms) = 0;
    virtual void stop() = 0;
    virtual bool active() const = 0;
};

// The keystroke strings: 250/251 Shift down/up, 252/253 Ctrl, 254/255 Alt;
// 240-249 Home End Up Down Left Right PgUp PgDn Insert Delete; 228-239
// F1-F12; 0-31 the virtual key itself; any other byte a character.
extern const std::string SelectAllKeys;
extern const std::string CopyKeys;
extern const std::string PasteKeys;

inline constexpr std::string_view kCouldNotSwitch = "Could not switch to source window";
inline constexpr std::string_view kCouldNotCopy = "Could not copy text from the source window";
inline constexpr std::string_view kViewerCaptionPrefix = "Morvantile - ";
inline constexpr std::string_view kKeystrokesRefused =
    "The desktop did not allow Morvantile to type into other programs, so this request works on the clipboard "
    "alone: the text is taken from the clipboard, and the result is left there for you to paste.";

// How long the automation waits for the desktop, at most.
inline constexpr int kActivateTimeoutMs = 2000;
inline constexpr int kModifierReleaseTimeoutMs = 2000;
inline constexpr int kCopyTimeoutMs = 2000;
inline constexpr int kFirstWindowCheckMs = 500;
inline constexpr int kViewerTickMs = 100;
inline constexpr int kViewerMaxTicks = 100;
// After the paste, how long the editor gets to retitle its window.
inline constexpr int kViewerRetitleMs = 1000;
inline constexpr int kViewerRetitlePollMs = 20;

// The "shell-like" split of a command line into program and arguments:
// blanks separate words; single quotes keep everything literally; double
// quotes keep blanks and let a backslash escape \ " $ `; outside quotes a
// backslash keeps the next character. Nothing is expanded and no shell
// runs. An unterminated quote takes the rest of the line.
std::vector<std::string> split_command_line(std::string_view command_line);

// `word` as one word of such a command line: itself when it has no blank,
// quote or backslash, else in single quotes (a quote inside as '\'').
std::string quote_command_word(std::string_view word);

// The file-name part of a command line or path: what follows the last "/".
std::string file_name_part(std::string_view text);

struct AutomationServices {
    WindowSystem& windows;
    EventPump& pump;
    Tray& tray;
    ErrorReporter& errors;
    ClipboardExchange& clipboard;
    Timer& windowcheck;      // Timer_windowcheck
    Timer& externalviewer;   // timer_externalviewer
    // True when one of the program's own dialogs is open (it has been
    // brought to the front).
    std::function<bool()> own_dialog_open;
    // Starts the encryption command with an operation code.
    std::function<void(char)> run_command;
};

class DesktopAutomation final : public SourceWindow {
public:
    DesktopAutomation(const Settings& settings, RuntimeState& runtime, AutomationServices services);
    ~DesktopAutomation() override;

    // The program became / stopped being the active application.
    void application_activated();
    void application_deactivated();
    // The window check: remembers the captioned foreground window of
    // another program.
    void Timer_windowcheckTimer();
    // Takes the window in front now as the source, unless it is one of the
    // program's own, a part of the desktop or has no caption.
    void remember_foreground_window();

    // A request from a hotkey or the tray menu: 'e' or 'd'.
    void PopupmenuKey(char code);
    // True while a request is switching to the source window or copying
    // from it; every hotkey waits for that to end.
    bool request_running() const { return request_running_; }

    // SourceWindow
    bool switchtosource() override;
    bool pasteback(bool auto_select) override;

    // Plays a keystroke string to `target`, which must be the active window:
    // if it is not when the keys are due (after the wait for the user's
    // modifiers), it is brought back once; if that fails, or the focus
    // moves away while the string plays, nothing (more) is sent and the
    // result is false.
    bool sendkeys(std::string_view keys, WindowId target);
    // Lets events run for `ms` milliseconds (nothing for 0 or less).
    void pausefor(int ms);
    // Makes the window the active one; false when it did not become active
    // in time.
    bool forceforeground(WindowId window);

    // The external editor: reuse a running one or start `command_line`,
    // wait for its window and paste the clipboard into it.
    void launchviewer(std::string_view command_line, int show_mode);
    void timer_externalviewerTimer();
    std::string windowexename(WindowId window);
    void prefixwindowtitle(WindowId window, std::string_view prefix);

private:
    void rearm_windowcheck();
    // The active window becomes the source window, when it can be one.
    void wait_for_modifier_release();
    // Select-all has been sent; the copy keystroke, and the wait until the
    // source window has put its text on the clipboard. The message of the
    // failure, or nullopt.
    std::optional<std::string_view> copy_from_source(WindowId source);
    void press(unsigned key, bool down);

    const Settings& settings_;
    RuntimeState& runtime_;
    AutomationServices services_;
    bool request_running_ = false;
    // The desktop refused keystrokes for the request that runs: it works on
    // the clipboard alone, so there is nothing to switch to or paste into.
    bool clipboard_only_request_ = false;
    // The program file of the editor last started, so that a window of
    // another process of the same program (a single-instance editor that
    // handed the text over) also counts.
    std::string viewer_program_file_;
    // The file name of the program started for the external editor: its
    // new window is known by it where the desktop tells no processes.
    std::string viewer_started_name_;
    // Where windows have no known process (Wayland), the editor is known by
    // its application id: the running window chosen for reuse, or else any
    // window of that name that was not there when the editor was started.
    WindowId viewer_window_ = 0;
    std::vector<WindowId> windows_before_viewer_;
};

}  // namespace morvantile
