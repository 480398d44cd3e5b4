// morvantile: the tray program. One copy runs per user; the main window's
// start-up reads the configuration and the command line, and the event
// loop runs until Exit.
#include <QApplication>
#include <QMessageBox>
#include <X11/Xlib.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "config/command_line.h"
#include "shell/instance_lock.h"
#include "shell/main_window.h"
#include "shell/qt_clipboard.h"
#include "shell/termination.h"
#include "shell/trigger_listener.h"
#include "shell/x11_desktop.h"

namespace {

bool wayland_session() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (type != nullptr && std::strcmp(type, "wayland") == 0) || (wayland != nullptr && *wayland != '\0');
}

// Hotkeys and keystrokes exist only on X11, so the program always runs on
// an X display, under Wayland on XWayland.
bool x11_display_reachable() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    XCloseDisplay(display);
    return true;
}

constexpr char kNoDisplay[] =
    "Morvantile needs an X11 display (an X session, or XWayland under Wayland), and none was found "
    "($DISPLAY).\n";
constexpr char kWaylandNote[] =
    "This is a Wayland session. Morvantile runs on XWayland here, so its hotkeys and keystrokes reach only "
    "programs that run on XWayland too. The tray menu, the clipboard operations and file mode work everywhere.";
constexpr char kNoXTest[] =
    "The X server lacks the XTEST or the XKEYBOARD extension, so Morvantile cannot use hotkeys or send keystrokes. The tray "
    "menu works on the clipboard: copy the text, choose Encrypt or Decrypt, and paste the result.";

}  // namespace

int main(int argc, char** argv) {
    const bool wayland = wayland_session();
    if (!x11_display_reachable()) {
        std::fputs(kNoDisplay, stderr);
        return 1;
    }
    if (wayland && std::getenv("QT_QPA_PLATFORM") == nullptr) qputenv("QT_QPA_PLATFORM", "xcb");
    // Taken before Qt removes the options it knows (-style, -display...)
    // from argv: the program's own command line has none of those, and a
    // word it does not know is a command-line error, not silently used.
    std::vector<std::string> params;
    for (int i = 1; i < argc; ++i) params.emplace_back(argv[i]);
    // "morvantile encrypt" goes to the running copy, if there is one.
    if (const std::optional<int> status = morvantile::shell::hand_over_trigger(params)) return *status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("morvantile"));
    QApplication::setDesktopFileName(QStringLiteral("morvantile"));
    // A tray program lives on when its last dialog closes.
    QApplication::setQuitOnLastWindowClosed(false);

    const std::string folder = morvantile::user_config_folder().value_or(std::string());
    const std::optional<morvantile::shell::InstanceLock> lock =
        morvantile::shell::InstanceLock::acquire(morvantile::shell::InstanceLock::default_path(folder));
    if (!lock) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Morvantile"),
                        QStringLiteral("Morvantile is already running."), QMessageBox::Ok);
        box.exec();
        return 1;
    }

    const std::unique_ptr<morvantile::shell::X11Desktop> desktop = morvantile::shell::X11Desktop::open();
    morvantile::shell::DesktopBackend backend;
    if (desktop) backend = {desktop.get(), desktop.get()};
    morvantile::shell::TfrmMain main_window(std::make_unique<morvantile::shell::QtClipboard>(), backend);
    morvantile::shell::TerminationSignals signals_from_outside;
    main_window.follow_session(signals_from_outside);
    main_window.listen_for_triggers();
    if (!main_window.start(params)) return 1;
    // Ended during the start (a signal while the list password was asked):
    // the event loop would never hear of it.
    if (main_window.ending()) return 0;
    if (!desktop) {
        main_window.show_error(kNoXTest);
    } else if (wayland) {
        main_window.show_error(kWaylandNote);
    }
    return app.exec();
}
