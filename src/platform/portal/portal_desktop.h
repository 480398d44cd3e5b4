// The desktop under the automation on GNOME and KDE (and any desktop whose
// portal offers a remote-desktop keyboard): keystrokes go through a
// remote-desktop session that the user allows once, the clipboard through
// that session's clipboard, and the source window is whichever window had
// the focus when the request came, since no portal tells which window is
// which. The program never switches windows here; it waits until the focus
// has left its own windows before it types.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QTimer>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "automation/automation.h"
#include "platform/portal/portal_dbus.h"
#include "textcrypt/clipboard.h"

namespace morvantile::platform {

class PortalShortcuts;

class PortalDesktop final : public QObject, public WindowSystem {
    Q_OBJECT
public:
    // `token_path` is where the restore token is kept; `shortcuts`, when
    // given, tells whether the keys of the pressed shortcut are still down.
    PortalDesktop(QDBusConnection bus, PortalVersions versions, std::string token_path,
                  PortalShortcuts* shortcuts = nullptr);
    ~PortalDesktop() override;

    // How long a session may go unused before it is closed, so that the
    // desktop's "remote control" indicator does not stay on.
    static constexpr int kIdleCloseMs = 2 * 60 * 1000;

    // The clipboard: the session's own while it runs with the clipboard
    // allowed, else `fallback` (Qt's, which sees the clipboard while a
    // window of the program has the focus).
    std::unique_ptr<ClipboardAccess> clipboard_over(std::unique_ptr<ClipboardAccess> fallback);

    bool session_running() const { return !session_.isEmpty(); }
    bool session_clipboard() const { return session_running() && clipboard_enabled_; }

    // WindowSystem
    WindowId foreground_window() override;
    std::string window_title(WindowId window) override;
    void set_window_title(WindowId window, std::string_view title) override;
    bool is_window(WindowId window) override;
    bool own_window(WindowId window) override;
    bool desktop_part(WindowId window) override;
    void activate(WindowId window) override;
    void restore(WindowId window) override;
    std::vector<WindowId> client_windows() override;
    std::int64_t window_process(WindowId window) override;
    std::string process_program_file(std::int64_t pid) override;
    std::string find_program(std::string_view name) override;
    std::int64_t start_process(const std::vector<std::string>& argv) override;
    // Keys are keysyms here: the desktop's own layout finds the key.
    KeyStroke key_for_vk(std::uint8_t vk) override;
    KeyStroke key_for_char(char c) override;
    void key_event(unsigned key, bool down) override;
    bool modifiers_held() override;
    bool clipboard_taken() override;
    bool prepare_keystrokes() override;
    std::uint64_t tick_ms() override;
    void wait(int ms) override;

public slots:
    void onSessionClosed(const QDBusMessage& signal);
    void onSelectionOwnerChanged(const QDBusMessage& signal);
    void onSelectionTransfer(const QDBusMessage& signal);

private:
    friend class PortalClipboard;
    bool start_session();
    void end_session();
    // Drops what belonged to the session, once it is gone.
    void forget_session();
    void touch();
    void idle_timeout();
    // The session's clipboard.
    std::optional<std::string> read_selection(const std::string& mime);
    void set_selection(std::map<std::string, std::string> served);

    QDBusConnection bus_;
    PortalVersions versions_;
    std::string token_path_;
    PortalShortcuts* shortcuts_;
    QString session_;
    bool clipboard_enabled_ = false;
    bool starting_ = false;
    std::set<unsigned> down_;
    QTimer idle_;
    // Our selection, by MIME type, while the session owns the clipboard.
    bool owner_ = false;
    std::map<std::string, std::string> served_;
    // The MIME types of another program's selection.
    std::vector<std::string> offered_;
    bool offered_known_ = false;
    bool taken_since_set_ = true;
    // Without the session's clipboard: Qt's clipboard changes counted.
    int qt_changes_ = 0;
    int qt_changes_at_set_ = 0;
    std::uint64_t set_at_ms_ = 0;
};

}  // namespace morvantile::platform
