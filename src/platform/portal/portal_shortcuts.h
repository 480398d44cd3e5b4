// The hotkeys through the desktop's global-shortcuts portal (KDE Plasma,
// GNOME, Hyprland): the program asks for its shortcuts by purpose with a
// preferred key, the desktop (and the user, in the desktop's own dialog)
// decides which keys they get, and presses arrive as Activated signals.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <map>
#include <string>

#include "automation/hotkeys.h"
#include "platform/portal/portal_dbus.h"

namespace morvantile::platform {

class PortalShortcuts final : public QObject, public HotKeySystem {
    Q_OBJECT
public:
    // One global-shortcuts session is made at once, on `bus`.
    explicit PortalShortcuts(QDBusConnection bus);
    ~PortalShortcuts() override;

    // KeyNames: the keysym names, as the desktop names keys.
    std::string layout_key_name(std::uint8_t vk) override;

    // HotKeySystem. Registering only notes the combination: the desktop is
    // asked for the whole set at once when the registration pass is over
    // (the portal binds a session's shortcuts once), and a combination it
    // refuses then is reported through the errors given to set_purposes().
    Id add_atom(std::string_view name) override;
    void delete_atom(Id id) override;
    bool register_hotkey(Id id, unsigned modifiers, std::uint8_t vk) override;
    bool unregister_hotkey(Id id) override;
    void set_hotkey_handler(std::function<void(Id, unsigned, std::uint8_t)> handler) override;
    void set_purposes(std::function<HotKeyPurpose(TShortCut)> purpose_of, ErrorReporter* errors) override;
    std::string assigned_keys() override;
    std::string press_activation_token() override;

    // Whether the keys of the shortcut last activated are still down, as
    // far as the desktop tells (it reports their release as Deactivated; a
    // desktop that never does is taken to have let go after a moment).
    bool shortcut_held() const;

    // Whether the desktop has bound a session's shortcuts (for diagnostics
    // and tests).
    bool bound() const { return !bound_.empty(); }

public slots:
    // Activated(o session, s id, t timestamp, a{sv} options).
    void onActivated(const QDBusMessage& signal);
    // ShortcutsChanged(o session, a(sa{sv}) shortcuts).
    void onShortcutsChanged(const QDBusMessage& signal);
    // Deactivated(o session, s id, t timestamp, a{sv} options).
    void onDeactivated(const QDBusMessage& signal);

private:
    struct Wanted {
        unsigned modifiers = 0;
        std::uint8_t vk = 0;
    };
    void schedule_bind();
    void bind();
    bool open_session();
    void close_session();
    void take_assigned(const PortalShortcutList& shortcuts);

    QDBusConnection bus_;
    QString session_;
    Id next_atom_ = 1;
    std::map<Id, Wanted> registered_;
    // id ("encrypt") -> the trigger asked for, of the set the session bound.
    std::map<std::string, std::string> bound_;
    // id -> the desktop's description of the keys it assigned.
    std::map<std::string, std::string> assigned_;
    std::function<void(Id, unsigned, std::uint8_t)> handler_;
    std::function<HotKeyPurpose(TShortCut)> purpose_of_;
    ErrorReporter* errors_ = nullptr;
    std::string press_token_;
    bool bind_scheduled_ = false;
    bool binding_ = false;
    bool bind_again_ = false;
    bool held_ = false;
    std::uint64_t activated_ms_ = 0;
};

}  // namespace morvantile::platform
