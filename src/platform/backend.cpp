#include "platform/backend.h"

#include <QByteArray>
#include <QtGlobal>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "config/command_line.h"
#include "platform/portal/portal_dbus.h"
#include "platform/portal/portal_desktop.h"
#include "platform/portal/portal_shortcuts.h"
#include "platform/wayland/wayland_desktop.h"
#include "platform/x11/x11_desktop.h"

namespace morvantile::platform {

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

std::string yes_no(bool b) { return b ? "yes" : "no"; }

// Qt runs on the platform the backend needs, unless the user said otherwise.
void run_qt_on(const char* platform) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", platform);
}

void describe_x11(DesktopReport& r, const X11Probe& x) {
    if (!x.display) {
        r.found.push_back("X11: no display ($DISPLAY " + (env("DISPLAY").empty() ? "unset" : env("DISPLAY")) + ")");
        return;
    }
    r.found.push_back("X11: display " + x.name + ", XTEST " + yes_no(x.xtest) + ", XKB " + yes_no(x.xkb) +
                      ", window manager with _NET_ACTIVE_WINDOW " + yes_no(x.window_manager));
}

void works_on_x11(DesktopReport& r, bool all_programs) {
    const std::string reach = all_programs ? "" : " (programs running on XWayland only)";
    r.works = {"hotkeys: yes, grabbed on the X display" + reach,
               "keystrokes: yes, through XTEST" + reach,
               "source window: yes, the window manager's active window" + reach,
               "clipboard: yes, the X11 clipboard"};
}

void clipboard_only(DesktopReport& r, const std::string& why) {
    r.kind = BackendKind::ClipboardOnly;
    r.backend = "clipboard only";
    r.why = why;
    r.works = {"hotkeys: no", "keystrokes: no", "source window: no",
               "clipboard: yes, while a window of Morvantile has the focus"};
    r.start_message = why +
                      " The tray menu works on the clipboard: copy the text, choose Encrypt or Decrypt, and paste the "
                      "result.";
}

void describe_wayland(DesktopReport& r, const WaylandProtocols& w) {
    if (!w.connected) {
        r.found.push_back("Wayland: no display ($WAYLAND_DISPLAY " +
                          (env("WAYLAND_DISPLAY").empty() ? "unset" : env("WAYLAND_DISPLAY")) + ")");
        return;
    }
    r.found.push_back("Wayland: display " + w.display + ", virtual keyboard " + yes_no(w.virtual_keyboard) +
                      ", data control " + (w.ext_data_control ? "yes (ext)" : w.wlr_data_control ? "yes (wlr)" : "no") +
                      ", foreign toplevel list " + yes_no(w.foreign_toplevel));
    std::string globals;
    for (const std::string& g : w.globals) globals += (globals.empty() ? "" : ", ") + g;
    r.found.push_back("Wayland globals: " + globals);
}

void on_wlroots(DesktopReport& r, const WaylandProtocols& w) {
    r.kind = BackendKind::Wlroots;
    r.backend = "Wayland (virtual keyboard)";
    r.why = "The compositor lets a client type and read the clipboard (wlroots protocols).";
    if (r.portals.bus && !portals_usable(r.portals)) r.why += " " + portals_unusable_reason(r.portals);
    const bool clipboard = w.wlr_data_control || w.ext_data_control;
    r.works = {"hotkeys: bound in the compositor to 'morvantile encrypt' and 'morvantile decrypt' (no Wayland "
               "client can take keys itself)",
               "keystrokes: yes, through a virtual keyboard",
               w.foreign_toplevel ? "source window: yes, the compositor's window list"
                                  : "source window: the window that has the focus when the request comes",
               clipboard ? "clipboard: yes, through data control"
                         : "clipboard: only while a window of Morvantile has the focus"};
    r.hotkeys_note =
        "No program can take keys for itself on Wayland: bind them in the compositor instead, e.g. for sway in "
        "~/.config/sway/config:";
}

void on_portals(DesktopReport& r) {
    r.kind = BackendKind::Portal;
    r.backend = "Wayland (desktop portals)";
    r.why = "The desktop's portals offer global shortcuts and a remote-desktop keyboard (GNOME, KDE).";
    r.works = {"hotkeys: yes, global shortcuts that the desktop assigns (you confirm them once in its dialog)",
               "keystrokes: yes, through a remote-desktop session that you allow once (the desktop shows that "
               "it is being controlled while the session is open)",
               "source window: the window that has the focus when the shortcut comes; Morvantile types only "
               "once the focus has left its own windows",
               r.portals.clipboard >= kMinClipboard
                   ? "clipboard: yes, through the remote-desktop session"
                   : "clipboard: only while a window of Morvantile has the focus"};
}

// Why X11 under Wayland, and what that means.
std::string xwayland_note(bool compositor_answered) {
    return std::string(compositor_answered ? "This is a Wayland session whose compositor offers no virtual keyboard."
                                           : "This is a Wayland session, but no Wayland display answered.") +
           " Morvantile runs on XWayland here, so its hotkeys and keystrokes reach only programs that run on "
           "XWayland too. The tray menu, the clipboard operations and file mode work everywhere.";
}

}  // namespace

DesktopReport plan_backend() {
    DesktopReport r;
    r.session = env("XDG_SESSION_TYPE");
    const bool wayland = r.session == "wayland" || !env("WAYLAND_DISPLAY").empty();
    if (r.session.empty()) r.session = wayland ? "wayland" : env("DISPLAY").empty() ? "unknown" : "x11";
    const std::string forced = env("MORVANTILE_BACKEND");

    const X11Probe x = probe_x11();
    describe_x11(r, x);
    const bool x11_usable = x.display && x.xtest && x.xkb;

    if (forced == "clipboard") {
        run_qt_on(wayland ? "wayland" : "xcb");
        clipboard_only(r, "MORVANTILE_BACKEND=clipboard asks for the clipboard alone.");
        return r;
    }
    if (!wayland || forced == "x11") {
        if (x11_usable) {
            r.kind = wayland ? BackendKind::XWayland : BackendKind::X11;
            r.backend = wayland ? "X11 on XWayland" : "X11";
            r.why = wayland ? "MORVANTILE_BACKEND=x11 asks for X11." : "This is an X11 session.";
            if (wayland) {
                run_qt_on("xcb");
                r.start_message = xwayland_note(true);
            }
            works_on_x11(r, !wayland);
            return r;
        }
        if (!x.display) {
            r.kind = BackendKind::NoDisplay;
            r.backend = "none";
            r.why = "No X11 display was found ($DISPLAY), and this is no Wayland session ($WAYLAND_DISPLAY).";
            r.works = {"nothing: Morvantile needs an X11 or a Wayland session"};
            return r;
        }
        run_qt_on("xcb");
        clipboard_only(r,
                       "The X server lacks the XTEST or the XKEYBOARD extension, so Morvantile cannot use hotkeys or "
                       "send keystrokes.");
        return r;
    }
    const WaylandProtocols w = probe_wayland();
    describe_wayland(r, w);
    if (forced.empty() || forced == "portal") {
        r.portals = probe_portals();
        r.found.push_back(portals_line(r.portals));
        if (portals_usable(r.portals)) {
            run_qt_on("wayland");
            on_portals(r);
            return r;
        }
        if (forced == "portal") {
            run_qt_on("wayland");
            // Asked for by name, the portals stand alone: no other backend
            // is chosen behind the user's back.
            std::string reason = portals_unusable_reason(r.portals);
            if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
            clipboard_only(r, "MORVANTILE_BACKEND=portal, but " + reason);
            return r;
        }
    }
    if (w.connected && w.virtual_keyboard) {
        run_qt_on("wayland");
        on_wlroots(r, w);
        return r;
    }
    if (forced == "wayland") {
        run_qt_on("wayland");
        clipboard_only(r, "MORVANTILE_BACKEND=wayland, but the compositor offers no virtual keyboard.");
        return r;
    }
    if (x11_usable) {
        r.kind = BackendKind::XWayland;
        r.backend = "X11 on XWayland";
        r.why = w.connected ? "The compositor offers no virtual keyboard, and XWayland is there."
                            : "No Wayland display answered, and XWayland is there.";
        run_qt_on("xcb");
        r.start_message = xwayland_note(w.connected);
        works_on_x11(r, false);
        return r;
    }
    run_qt_on("wayland");
    clipboard_only(r, "The compositor offers no virtual keyboard and there is no XWayland, so Morvantile cannot send "
                      "keystrokes here.");
    return r;
}

namespace {

// The backend's clipboard, owned by the backend object.
class ClipboardOf final : public ClipboardAccess {
public:
    explicit ClipboardOf(ClipboardAccess& inner) : inner_(inner) {}
    void open() override { inner_.open(); }
    void close() override { inner_.close(); }
    std::vector<std::string> formats() override { return inner_.formats(); }
    std::optional<std::string> get(std::string_view format) override { return inner_.get(format); }
    void set(std::string_view format, std::string_view bytes, bool secret) override {
        inner_.set(format, bytes, secret);
    }

private:
    ClipboardAccess& inner_;
};

}  // namespace

Backend open_backend(DesktopReport& report) {
    Backend b;
    if (report.kind == BackendKind::Portal) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected()) {
            auto owner = std::make_unique<QObject>();
            auto* shortcuts = new PortalShortcuts(bus);
            shortcuts->setParent(owner.get());
            const std::string folder = user_config_folder().value_or(std::string());
            const std::string token_path = folder.empty() ? std::string() : folder + "/" + std::string(kRestoreTokenFileName);
            auto* desktop = new PortalDesktop(bus, report.portals, token_path, shortcuts);
            desktop->setParent(owner.get());
            b.hotkeys = shortcuts;
            b.windows = desktop;
            b.clipboard_over_qt = [desktop](std::unique_ptr<ClipboardAccess> qt) {
                return desktop->clipboard_over(std::move(qt));
            };
            b.owner = std::move(owner);
            return b;
        }
        clipboard_only(report, "The session bus could not be reached for the desktop portals.");
        return b;
    }
    if (report.kind == BackendKind::Wlroots) {
        std::unique_ptr<WaylandDesktop> wayland = WaylandDesktop::open();
        if (wayland) {
            b.windows = wayland.get();
            if (wayland->has_clipboard()) b.clipboard = std::make_unique<ClipboardOf>(wayland->clipboard());
            b.owner = std::move(wayland);
            return b;
        }
        clipboard_only(report, "The Wayland compositor could not be reached for keystrokes.");
        return b;
    }
    if (report.kind == BackendKind::X11 || report.kind == BackendKind::XWayland) {
        std::unique_ptr<X11Desktop> x11 = X11Desktop::open();
        if (x11) {
            b.hotkeys = x11.get();
            b.windows = x11.get();
            b.owner = std::move(x11);
            return b;
        }
        clipboard_only(report, "The X display could not be opened for hotkeys and keystrokes.");
    }
    return b;
}

std::string compositor_key(std::string_view hotkey_text) {
    std::string out;
    std::size_t start = 0;
    while (start <= hotkey_text.size()) {
        const std::size_t plus = std::min(hotkey_text.find('+', start), hotkey_text.size());
        std::string part(hotkey_text.substr(start, plus - start));
        for (char& c : part) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!part.empty()) {
            if (part == "ctrl") part = "Ctrl";
            else if (part == "shift") part = "Shift";
            else if (part == "alt") part = "Mod1";
            else if (part.size() > 1 && part[0] == 'f' && std::isdigit(static_cast<unsigned char>(part[1]))) part[0] = 'F';
            else if (part.size() > 1) part[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(part[0])));
            out += (out.empty() ? "" : "+") + part;
        }
        start = plus + 1;
    }
    return out;
}

std::string sway_bindings(const Settings& s) {
    const std::pair<const std::string*, const char*> keys[] = {{&s.AutoEncryptHotKeyString, "encrypt"},
                                                               {&s.AutoDecryptHotKeyString, "decrypt"},
                                                               {&s.OptionsHotKeyString, "options"},
                                                               {&s.ExitHotKeyString, "exit"}};
    std::string lines;
    for (const auto& [text, word] : keys) {
        const std::string key = compositor_key(*text);
        if (!key.empty()) lines += "bindsym " + key + " exec morvantile " + word + "\n";
    }
    return lines;
}

std::string diagnose_text(const DesktopReport& r) {
    std::string text = "Session: " + r.session + "\n";
    text += "Backend: " + r.backend + "\n";
    text += "Why: " + r.why + "\n";
    text += "Found:\n";
    for (const std::string& line : r.found) text += "  " + line + "\n";
    text += "Works:\n";
    for (const std::string& line : r.works) text += "  " + line + "\n";
    if (!r.hotkeys_note.empty()) text += "Keys:\n  " + r.hotkeys_note + "\n";
    return text;
}

std::string about_line(const DesktopReport& r) {
    std::string line = "Desktop: " + r.backend;
    if (r.kind == BackendKind::ClipboardOnly) line += " (no hotkeys or keystrokes here)";
    return line;
}

}  // namespace morvantile::platform
