// morvantile: the tray program. One copy runs per user; the main window's
// start-up reads the configuration and the command line, and the event
// loop runs until Exit.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/ascii.h"
#include "config/command_line.h"
#include "config/config_file.h"
#include "config/ini_file.h"
#include "platform/backend.h"
#include "shell/instance_lock.h"
#include "shell/main_window.h"
#include "shell/qt_clipboard.h"
#include "shell/termination.h"
#include "shell/trigger_listener.h"

namespace {

constexpr char kNoDisplay[] =
    "Morvantile needs a desktop to show its windows on (an X11 or Wayland session), and none was found "
    "($DISPLAY, $WAYLAND_DISPLAY).\n";

// "diagnose", with the optional "-" or "/" of the other parameters.
bool asks_for_diagnosis(const std::vector<std::string>& params) {
    if (params.size() != 1) return false;
    std::string_view word = params[0];
    if (!word.empty() && (word.front() == '-' || word.front() == '/')) word.remove_prefix(1);
    return morvantile::equal_ignoring_case(word, "diagnose");
}

}  // namespace

int main(int argc, char** argv) {
    // Taken before Qt removes the options it knows (-style, -display...)
    // from argv: the program's own command line has none of those, and a
    // word it does not know is a command-line error, not silently used.
    std::vector<std::string> params;
    for (int i = 1; i < argc; ++i) params.emplace_back(argv[i]);
    // "morvantile encrypt" goes to the running copy, if there is one.
    if (const std::optional<int> status = morvantile::shell::hand_over_trigger(params)) return *status;

    morvantile::platform::DesktopReport report = morvantile::platform::plan_backend();
    if (asks_for_diagnosis(params)) {
        std::string text = morvantile::platform::diagnose_text(report);
        // The compositor lines for the user's own hotkeys.
        if (!report.hotkeys_note.empty()) {
            morvantile::Settings settings = morvantile::settings_missing_defaults();
            const std::optional<std::string> folder = morvantile::user_config_folder();
            try {
                if (folder) morvantile::read_options(morvantile::IniFile::load(*folder + "/morvantile.ini"), settings);
            } catch (const std::exception&) {
            }
            const std::string lines = morvantile::platform::sway_bindings(settings);
            for (std::size_t at = 0, end; at < lines.size(); at = end + 1) {
                end = lines.find('\n', at);
                text += "  " + lines.substr(at, end - at + 1);
            }
        }
        std::fputs(text.c_str(), stdout);
        return 0;
    }
    if (report.kind == morvantile::platform::BackendKind::NoDisplay) {
        std::fputs(kNoDisplay, stderr);
        return 1;
    }

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

    morvantile::platform::Backend backend = morvantile::platform::open_backend(report);
    std::unique_ptr<morvantile::ClipboardAccess> clipboard = std::move(backend.clipboard);
    if (!clipboard) {
        clipboard = std::make_unique<morvantile::shell::QtClipboard>();
        if (backend.clipboard_over_qt) clipboard = backend.clipboard_over_qt(std::move(clipboard));
    }
    morvantile::shell::TfrmMain main_window(
        std::move(clipboard),
        {backend.hotkeys, backend.windows, morvantile::platform::about_line(report), report.hotkeys_note});
    morvantile::shell::TerminationSignals signals_from_outside;
    main_window.follow_session(signals_from_outside);
    main_window.listen_for_triggers();
    if (!main_window.start(params)) return 1;
    // Ended during the start (a signal while the list password was asked):
    // the event loop would never hear of it.
    if (main_window.ending()) return 0;
    if (!report.start_message.empty()) main_window.show_error(report.start_message);
    return app.exec();
}
