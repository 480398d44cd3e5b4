// What the operations need from the desktop: the program's modal windows,
// the window the text came from, the viewers, the tray icon and the event
// loop. The Qt shell and the X11 layer implement these; tests use recording
// fakes, so every operation runs without a display.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "textcrypt/error_reporter.h"

namespace morvantile {

// One entry of a file dialog's type list, e.g. {"All files (*.*)", "*"}.
struct FileFilter {
    std::string name;
    std::string pattern;
    friend bool operator==(const FileFilter&, const FileFilter&) = default;
};

struct FileDialogRequest {
    std::string title;
    std::vector<FileFilter> filters;
    int filter_index = 1;            // preselected entry, from 1
    bool confirm_overwrite = false;  // the save dialog asks before replacing a file
};

// The program's own modal windows. Each brings itself to the front, and
// after it closes the desktop switches back to the source window. A request
// while another of the program's dialogs is open is dropped (that dialog
// comes forward instead) and reported like Cancel.
class Dialogs : public ErrorReporter {
public:
    // The password dialog for an operation, with RuntimeState's PromptText,
    // PromptColour and PasswordDialogCaption. On OK it has set
    // CurrentPassword, and MasterPassword by the "Retain" switch. False for
    // Cancel or when another dialog is open.
    virtual bool setpassword() = 0;
    // The system's plain message box (caption "Morvantile", one OK button),
    // for the two messages that do not go through show_error.
    virtual void message_box(std::string_view text) = 0;
    // A Yes/No message box; true only for Yes.
    virtual bool ask_yes_no(std::string_view caption, std::string_view text) = 0;
    // The one-second notice window for RuntimeState::NoticeMode; returns
    // when it has closed itself.
    virtual void show_notice() = 0;
    // The common file dialogs; the chosen name, or nullopt for Cancel.
    virtual std::optional<std::string> open_file(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> save_file(const FileDialogRequest& request) = 0;
};

// The window the text came from.
class SourceWindow {
public:
    virtual ~SourceWindow() = default;
    // Back to the source window; with `auto_select` (and no separators) a
    // select-all keystroke, then paste if AutoPaste. False, doing nothing,
    // when that window no longer exists.
    virtual bool pasteback(bool auto_select) = 0;
    // Brings the source window back to the front; false when it is gone or
    // would not come. Callers after a dialog ignore the result.
    virtual bool switchtosource() = 0;
};

// Where decrypted text can be shown instead of going back to its window.
class Viewers {
public:
    virtual ~Viewers() = default;
    // The internal viewer, which takes the text from the clipboard. On pass
    // 1 of 2 it shows nothing.
    virtual void showviewer(int pass, int passes) = 0;
    // The external editor, started (or found) with `command_line` and fed
    // the clipboard.
    virtual void launchviewer(std::string_view command_line, int show_mode) = 0;
};

// The tray icon's state images.
enum class TrayImage { Idle = 0, PasswordSet = 1, WaitingForPassword = 2, Running = 3 };

class Tray {
public:
    virtual ~Tray() = default;
    virtual void set_image(TrayImage image) = 0;
    virtual void set_hint(std::string_view text) = 0;
    // The tray menu's automatic pop-up; off while an operation runs, so a
    // click cannot start a second one.
    virtual void set_popup_enabled(bool enabled) = 0;
    // The menu item "Clear password".
    virtual void set_clear_password_enabled(bool enabled) = 0;
};

// The one GUI thread's event loop.
class EventPump {
public:
    virtual ~EventPump() = default;
    // Lets pending window messages run (paint, timers), so the program keeps
    // responding during long work.
    virtual void process_messages() = 0;
    // Brings the application to the front at the start of an operation.
    virtual void bring_to_front() = 0;
};

// The system's message box shows "File report.txt exists.  Overwrite?"
// with this caption.
inline constexpr std::string_view kMessageBoxCaption = "Morvantile";

}  // namespace morvantile
