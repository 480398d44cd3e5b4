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

class TfrmMain final : public QWidget,
                       public Dialogs,
                       public Viewers,
                       public Tray,
                       public EventPump,
                       public PasswordDialogWindow {
    Q_OBJECT
public:
    // `clipboard` is the desktop clipboard (tests pass a fake one).
    explicit TfrmMain(std::unique_ptr<ClipboardAccess> clipboard);
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

    Settings settings_;
    RuntimeState runtime_;
    PasswordLists lists_;
    std::unique_ptr<SourceWindow> source_;
    std::unique_ptr<ClipboardAccess> clipboard_access_;
    ClipboardExchange exchange_;
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
    QPushButton* btn_close = nullptr;
    bool exiting_ = false;
    bool tray_missing_reported_ = false;
};

}  // namespace morvantile::shell
