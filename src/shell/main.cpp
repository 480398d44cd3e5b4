// morvantile: the tray program. One copy runs per user; the main window's
// start-up reads the configuration and the command line, and the event
// loop runs until Exit.
#include <QApplication>
#include <QMessageBox>
#include <optional>
#include <string>
#include <vector>

#include "config/command_line.h"
#include "shell/instance_lock.h"
#include "shell/main_window.h"
#include "shell/qt_clipboard.h"

int main(int argc, char** argv) {
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

    std::vector<std::string> params;
    for (int i = 1; i < argc; ++i) params.emplace_back(argv[i]);

    morvantile::shell::TfrmMain main_window(std::make_unique<morvantile::shell::QtClipboard>());
    QObject::connect(&main_window, &morvantile::shell::TfrmMain::finished, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    if (!main_window.start(params)) return 1;
    return app.exec();
}
