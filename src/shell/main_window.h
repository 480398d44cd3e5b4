// The program's main window. It shows itself only as the splash window at
// start and as the about window on request; for the rest of the run it is
// hidden and owns everything: the options, the run-time state, the
// password lists, the tray icon and its menu, and the desktop services the
// operations use.
#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "automation/hotkeys.h"
#include "automation/trigger.h"
#include "config/config_file.h"
#include "config/settings.h"
#include "filecrypt/file_system.h"
#include "passwords/password_lists.h"
#include "passwords/password_manager.h"
#include "shell/shell_context.h"
#include "textcrypt/clipboard.h"
#include "textcrypt/desktop.h"
#include "textcrypt/encryption_command.h"

class QLabel;
class QPushButton;
class QTimer;

namespace morvantile::shell {

class TrayIcon;
class SplashAnimation;
class TerminationSignals;
class TriggerListener;

// A timer of the main window for the automation.
class QtTimer final : public Timer {
public:
    QtTimer();
    ~QtTimer() override;
    void start(int interval_ms) override;
    void stop() override;
    bool active() const override;
    QTimer& timer() { return *timer_; }

private:
    std::unique_ptr<QTimer> timer_;
};

// The desktop under the program: its global key grabs and its windows and
// keyboard. Null members leave the program without hotkeys, and without a
// source window (results then stay on the clipboard).
struct DesktopBackend {
    HotKeySystem* hotkeys = nullptr;
    WindowSystem* windows = nullptr;
    // For the about window: which desktop backend runs and what it does.
    std::string description;
    // For the Hotkeys tab, when the desktop lets no program take keys.
    std::string hotkeys_note;
};

class TfrmMain final : public QWidget,
                       public Dialogs,
                       public Viewers,
                       public Tray,
                       public EventPump,
                       public PasswordDialogWindow,
                       public TriggerHandler {
    Q_OBJECT
public:
    // `clipboard` is the desktop clipboard (tests pass a fake one); the
    // backend must outlive the window.
    explicit TfrmMain(std::unique_ptr<ClipboardAccess> clipboard, DesktopBackend desktop = {});
    ~TfrmMain() override;

    // The start-up: configuration, command line (`params` without the
    // program name), tray hint, splash. False when the program must end
    // (a command-line error, already reported).
    bool start(const std::vector<std::string>& params);

    // The tray menu's commands.
    void about();
    void PopupmenuKey(char code);
    void setoptions();
    void showinstructions();
    void settrayiconhint();
    // "Exit": writes the configuration and ends the program; does nothing
    // while the splash or about window is shown.
    void exit_program();
    // Ends the run without writing the configuration (the exit hotkey).
    void quit_without_saving();
    // The program is ended from outside (SIGTERM, SIGHUP, SIGINT): the
    // configuration is written as Exit writes it, but nothing is asked and
    // no message window waits for a click (messages go to standard error);
    // open dialogs close and nothing more is typed into other windows.
    void end_session();
    // The session manager asks for the program's data before the session
    // ends: the configuration is written the same way; the program runs on
    // until it is told to end.
    void save_for_session_end();
    // The program's end: the event loop (and any dialog's) ends when the
    // window has finished; `from_outside` and the session manager lead to
    // end_session and save_for_session_end.
    void follow_session(TerminationSignals& from_outside);
    // True once the program has been told to end.
    bool ending() const { return exiting_; }
    // Parses and registers the four hotkeys, with a message for each that
    // is invalid or taken.
    bool registerhotkeys();
    void HotKeyManagerHotKeyPressed(TShortCut HotKey);

    // Takes command-line requests ("morvantile encrypt") at `path`, by
    // default the user's trigger socket. False, with a note on standard
    // error, when it cannot: the program runs on without them. Called
    // before start(), so that a request during the start's messages finds
    // the program busy instead of unreachable.
    bool listen_for_triggers(const std::string& path = {});
    // TriggerHandler: a request is accepted and run as a press of its
    // hotkey would be; busy while an operation, a request or one of the
    // program's dialogs is under way (the dialog comes forward).
    TriggerReply accept(const TriggerRequest& request) override;
    void run(const TriggerRequest& request) override;

    // Dialogs
    bool setpassword() override;
    void show_error(std::string_view message) override;
    void message_box(std::string_view text) override;
    bool ask_yes_no(std::string_view caption, std::string_view text) override;
    void show_notice() override;
    std::optional<std::string> open_file(const FileDialogRequest& request) override;
    std::optional<std::string> save_file(const FileDialogRequest& request) override;
    // Viewers
    void showviewer(int pass, int passes) override;
    void launchviewer(std::string_view command_line, int show_mode) override;
    // Tray
    void set_image(TrayImage image) override;
    void set_hint(std::string_view text) override;
    void set_popup_enabled(bool enabled) override;
    void set_clear_password_enabled(bool enabled) override;
    // EventPump
    void process_messages() override;
    void bring_to_front() override;
    // PasswordDialogWindow
    bool ownDialogOpen() override;
    bool show_password_dialog(PasswordDialogLayout layout, std::string& typed) override;

    Settings& settings() { return settings_; }
    RuntimeState& runtime() { return runtime_; }
    PasswordLists& lists() { return lists_; }
    ShellContext& context() { return context_; }
    TrayIcon& tray() { return *tray_; }
    QPushButton* close_button() const { return btn_close; }
    QString about_text() const;
    QString user_greeting() const;

signals:
    // The event loop should end (after Exit, or the exit hotkey).
    void finished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void timer_splashTimer();
    std::optional<std::string> file_dialog(const FileDialogRequest& request, bool save);
    void build_splash();
    void run_command(HotKeyCommand command);
    // The request on the program's own command line, once it has started.
    void run_start_request(const TriggerRequest& request, int tries_left);

    Settings settings_;
    RuntimeState runtime_;
    PasswordLists lists_;
    std::unique_ptr<ClipboardAccess> clipboard_access_;
    ClipboardExchange exchange_;
    DesktopBackend backend_;
    QtTimer Timer_windowcheck;
    QtTimer timer_externalviewer;
    std::unique_ptr<DesktopAutomation> automation_;
    std::unique_ptr<THotKeyManager> HotKeyManager;
    std::unique_ptr<SourceWindow> clipboard_only_;
    SourceWindow& source_;
    PasswordPrompts prompts_;
    ConfigFile config_;
    PosixFileSystem files_;
    EncryptionCommand command_;
    ShellContext context_;
    TrayIcon* tray_ = nullptr;
    QTimer* timer_splash = nullptr;
    SplashAnimation* gif = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* l_username = nullptr;
    QLabel* l_desktop = nullptr;
    QPushButton* btn_close = nullptr;
    std::unique_ptr<TriggerListener> triggers_;
    bool started_ = false;
    bool exiting_ = false;
    bool tray_missing_reported_ = false;
};

}  // namespace morvantile::shell
