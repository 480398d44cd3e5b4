#include "platform/portal/portal_shortcuts.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QTimer>

#include "automation/desktop_helpers.h"
#include "textcrypt/error_reporter.h"

namespace morvantile::platform {

namespace {

// The desktop may show its own dialog for the user to confirm the keys.
constexpr int kBindTimeoutMs = 5 * 60 * 1000;
constexpr int kListTimeoutMs = 5000;

PortalShortcutList shortcut_list(const QVariant& value) {
    if (value.canConvert<QDBusArgument>()) return qdbus_cast<PortalShortcutList>(value.value<QDBusArgument>());
    return value.value<PortalShortcutList>();
}

const char* purpose_name(const std::string& id) {
    if (id == kShortcutEncrypt) return "Auto-encrypt";
    if (id == kShortcutDecrypt) return "Auto-decrypt";
    if (id == kShortcutOptions) return "Options";
    if (id == kShortcutExit) return "Exit";
    return "";
}

}  // namespace

PortalShortcuts::PortalShortcuts(QDBusConnection bus) : bus_(bus) {
    register_portal_types();
    bus_.connect(kPortalService, kPortalPath, kGlobalShortcutsInterface, QStringLiteral("Activated"), this,
                 SLOT(onActivated(QDBusMessage)));
    bus_.connect(kPortalService, kPortalPath, kGlobalShortcutsInterface, QStringLiteral("ShortcutsChanged"), this,
                 SLOT(onShortcutsChanged(QDBusMessage)));
    bus_.connect(kPortalService, kPortalPath, kGlobalShortcutsInterface, QStringLiteral("Deactivated"), this,
                 SLOT(onDeactivated(QDBusMessage)));
}

PortalShortcuts::~PortalShortcuts() { close_session(); }

std::string PortalShortcuts::layout_key_name(std::uint8_t vk) {
    if (std::string modifier = modifier_key_name(vk); !modifier.empty()) return modifier;
    const std::uint32_t keysym = vk_keysym(vk);
    if ((keysym > 0x20 && keysym <= 0x7E) || (keysym >= 0xA1 && keysym <= 0xFF))
        return latin1_to_utf8(std::string(1, static_cast<char>(keysym)));
    return keysym_name_of_vk(vk);
}

HotKeySystem::Id PortalShortcuts::add_atom(std::string_view) { return next_atom_++; }

void PortalShortcuts::delete_atom(Id) {}

bool PortalShortcuts::register_hotkey(Id id, unsigned modifiers, std::uint8_t vk) {
    if (id == 0 || vk == 0) return false;
    // The same combination twice could not mean two things to the desktop.
    for (const auto& [other, wanted] : registered_)
        if (other != id && wanted.modifiers == modifiers && wanted.vk == vk) return false;
    registered_[id] = {modifiers, vk};
    schedule_bind();
    return true;
}

bool PortalShortcuts::unregister_hotkey(Id id) {
    const bool known = registered_.erase(id) > 0;
    if (known) schedule_bind();
    return known;
}

void PortalShortcuts::set_hotkey_handler(std::function<void(Id, unsigned, std::uint8_t)> handler) {
    handler_ = std::move(handler);
}

void PortalShortcuts::set_purposes(std::function<HotKeyPurpose(TShortCut)> purpose_of, ErrorReporter* errors) {
    purpose_of_ = std::move(purpose_of);
    errors_ = errors;
    schedule_bind();
}

std::string PortalShortcuts::press_activation_token() { return press_token_; }

void PortalShortcuts::schedule_bind() {
    // A registration pass registers and unregisters one hotkey after the
    // other (and tries each first); the desktop hears only the outcome.
    if (bind_scheduled_) return;
    bind_scheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        bind_scheduled_ = false;
        bind();
    });
}

bool PortalShortcuts::open_session() {
    const std::string token = new_portal_token("shortcuts");
    const PortalResponse r =
        portal_request(bus_, kGlobalShortcutsInterface, QStringLiteral("CreateSession"),
                       {QVariantMap{{QStringLiteral("session_handle_token"), QString::fromStdString(token)}}},
                       kListTimeoutMs);
    if (!r.ok()) return false;
    // A string, not an object path, in every version of the portal.
    session_ = r.results.value(QStringLiteral("session_handle")).toString();
    if (session_.isEmpty()) session_ = QString::fromStdString(session_path(bus_.baseService().toStdString(), token));
    return true;
}

void PortalShortcuts::close_session() {
    close_portal_session(bus_, session_);
    session_.clear();
}

void PortalShortcuts::take_assigned(const PortalShortcutList& shortcuts) {
    for (const auto& [id, properties] : shortcuts)
        assigned_[id.toStdString()] = properties.value(QStringLiteral("trigger_description")).toString().toStdString();
}

void PortalShortcuts::bind() {
    if (binding_) {
        bind_again_ = true;
        return;
    }
    std::map<std::string, std::string> wanted;
    std::map<std::string, std::string_view> taken_messages;
    if (purpose_of_) {
        for (const auto& [atom, w] : registered_) {
            const HotKeyPurpose purpose = purpose_of_(shortcut_from(w.modifiers, w.vk));
            const std::string trigger = preferred_trigger(shortcut_from(w.modifiers, w.vk));
            if (purpose.id.empty() || trigger.empty()) continue;
            wanted[purpose.id] = trigger;
            taken_messages[purpose.id] = purpose.taken_message;
        }
    }
    if (wanted == bound_ && (!session_.isEmpty() || wanted.empty())) return;

    binding_ = true;
    // A session binds its shortcuts once: a changed set needs a new one.
    close_session();
    bound_.clear();
    assigned_.clear();
    if (!wanted.empty()) {
        std::map<std::string, bool> given;
        if (open_session()) {
            PortalShortcutList list;
            for (const auto& [id, trigger] : wanted) {
                QVariantMap properties;
                properties.insert(QStringLiteral("description"), QString::fromStdString(shortcut_description(id)));
                properties.insert(QStringLiteral("preferred_trigger"), QString::fromStdString(trigger));
                list.append({QString::fromStdString(id), properties});
            }
            const PortalResponse r = portal_request(
                bus_, kGlobalShortcutsInterface, QStringLiteral("BindShortcuts"),
                {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(list), QString(), QVariantMap()},
                kBindTimeoutMs);
            if (r.ok()) {
                bound_ = wanted;
                take_assigned(shortcut_list(r.results.value(QStringLiteral("shortcuts"))));
                // What the desktop holds now, should the answer have left
                // any out that it keeps from an earlier run.
                const PortalResponse listed =
                    portal_request(bus_, kGlobalShortcutsInterface, QStringLiteral("ListShortcuts"),
                                   {QVariant::fromValue(QDBusObjectPath(session_)), QVariantMap()}, kListTimeoutMs);
                if (listed.ok()) take_assigned(shortcut_list(listed.results.value(QStringLiteral("shortcuts"))));
            } else {
                close_session();
            }
        }
        // Each refused shortcut, or one the desktop left without a key, is
        // reported once for this set.
        for (const auto& [id, trigger] : wanted) {
            const auto it = assigned_.find(id);
            if ((it == assigned_.end() || it->second.empty()) && errors_) errors_->show_error(taken_messages[id]);
        }
    }
    binding_ = false;
    if (bind_again_) {
        bind_again_ = false;
        schedule_bind();
    }
}

void PortalShortcuts::onActivated(const QDBusMessage& signal) {
    const QVariantList args = signal.arguments();
    if (args.size() < 2 || session_.isEmpty()) return;
    if (args.at(0).value<QDBusObjectPath>().path() != session_) return;
    const std::string id = args.at(1).toString().toStdString();
    if (!handler_ || !purpose_of_) return;
    QVariantMap options;
    if (args.size() >= 4) {
        const QVariant raw = args.at(3);
        options = raw.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(raw.value<QDBusArgument>()) : raw.toMap();
    }
    for (const auto& [atom, w] : registered_) {
        if (purpose_of_(shortcut_from(w.modifiers, w.vk)).id != id) continue;
        press_token_ = options.value(QStringLiteral("activation_token")).toString().toStdString();
        held_ = true;
        activated_ms_ = monotonic_ms();
        // The handler may rebind (the options dialog), which changes the map.
        const Id pressed = atom;
        const Wanted combination = w;
        const auto handler = handler_;
        handler(pressed, combination.modifiers, combination.vk);
        press_token_.clear();
        return;
    }
}

bool PortalShortcuts::shortcut_held() const {
    constexpr std::uint64_t kLongestPressMs = 1000;
    return held_ && monotonic_ms() - activated_ms_ < kLongestPressMs;
}

void PortalShortcuts::onDeactivated(const QDBusMessage& signal) {
    const QVariantList args = signal.arguments();
    if (!args.isEmpty() && args.at(0).value<QDBusObjectPath>().path() == session_) held_ = false;
}

void PortalShortcuts::onShortcutsChanged(const QDBusMessage& signal) {
    const QVariantList args = signal.arguments();
    if (args.size() < 2 || args.at(0).value<QDBusObjectPath>().path() != session_) return;
    take_assigned(shortcut_list(args.at(1)));
}

std::string PortalShortcuts::assigned_keys() {
    std::string text =
        "Here the desktop owns the keys: Morvantile asks for the hotkeys above, and the desktop assigns them. "
        "Change them in its settings (KDE: System Settings, Shortcuts; GNOME: Settings, Keyboard, Keyboard "
        "Shortcuts).\nAssigned now:";
    if (bound_.empty()) return text + " none";
    for (const auto& [id, trigger] : bound_) {
        const auto it = assigned_.find(id);
        const std::string keys = it == assigned_.end() || it->second.empty() ? "no key" : it->second;
        text += std::string("\n  ") + purpose_name(id) + ": " + keys;
    }
    return text;
}

}  // namespace morvantile::platform
