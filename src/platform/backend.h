// The choice of desktop backend at start, and what it means for the user.
//
// The choice has two steps. Before Qt starts, the displays are probed and
// Qt is told which platform to run on (natively on Wayland where the
// compositor lets a client type and track windows; on XWayland where only
// X11 can; natively with the clipboard alone where neither can). Once Qt
// runs, the backend's own connection is opened. `morvantile diagnose`
// prints the same findings.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"
#include "automation/hotkeys.h"
#include "config/settings.h"
#include "platform/portal/portal_names.h"
#include "textcrypt/clipboard.h"

namespace morvantile::platform {

enum class BackendKind {
    X11,            // an X session: grabs, window tracking, XTEST
    Portal,         // Wayland with the desktop portals (GNOME, KDE)
    Wlroots,        // Wayland with the virtual keyboard (wlroots compositors)
    XWayland,       // Wayland without it: X11 on XWayland, for X11 programs only
    ClipboardOnly,  // no way to send keys: the tray menu and the clipboard
    NoDisplay,      // nothing to show a window on
};

// What was found and chosen, in words for the user.
struct DesktopReport {
    BackendKind kind = BackendKind::NoDisplay;
    std::string session;  // "wayland", "x11" or what XDG_SESSION_TYPE says
    std::string backend;  // "X11", "Wayland (wlroots protocols)", ...
    std::string why;      // one sentence
    std::vector<std::string> found;  // what each display offered
    // What works: one line each for hotkeys, keystrokes, source window,
    // clipboard.
    std::vector<std::string> works;
    // The one message shown at start when something does not work, or empty.
    std::string start_message;
    // For the Hotkeys tab when the program cannot take keys itself (empty
    // when it can): where the user binds them instead.
    std::string hotkeys_note;
    // What the portal service on the session bus offered (Wayland only).
    PortalVersions portals;
};

// Probes the displays and decides; sets QT_QPA_PLATFORM for the decision
// unless the user has set it. On Wayland the desktop portals come first
// (where global shortcuts and a remote-desktop keyboard answer), then the
// wlroots protocols, then XWayland, then the clipboard alone.
// MORVANTILE_BACKEND=x11, portal, wayland or clipboard overrides the
// choice. Call before the QApplication exists.
DesktopReport plan_backend();

// The open backend: the objects behind the automation's interfaces.
struct Backend {
    std::unique_ptr<QObject> owner;
    HotKeySystem* hotkeys = nullptr;
    WindowSystem* windows = nullptr;
    // The clipboard to use instead of Qt's (one that works while another
    // program has the focus); nullptr: Qt's.
    std::unique_ptr<ClipboardAccess> clipboard;
    // Or a clipboard that uses Qt's where it cannot do better (the portal
    // session's clipboard exists only while the session runs).
    std::function<std::unique_ptr<ClipboardAccess>(std::unique_ptr<ClipboardAccess> qt)> clipboard_over_qt;
};

// Opens the planned backend once the QApplication exists. When it cannot
// be opened after all, the report is changed to clipboard-only and says why.
Backend open_backend(DesktopReport& report);

// A hotkey text of the options ("ctrl+shift+f12") as a sway or Hyprland
// key binding names it ("Ctrl+Shift+F12"); empty for an empty text.
std::string compositor_key(std::string_view hotkey_text);
// The bindings that run the triggers for the four hotkeys of `settings`, in
// sway's syntax, one per line ("bindsym Ctrl+Shift+F12 exec morvantile
// encrypt"); hotkeys without a key are left out.
std::string sway_bindings(const Settings& settings);

// The report as `morvantile diagnose` prints it.
std::string diagnose_text(const DesktopReport& report);

// One line for the about window: the backend and what it does here.
std::string about_line(const DesktopReport& report);

}  // namespace morvantile::platform
