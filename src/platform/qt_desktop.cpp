#include "platform/qt_desktop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>
#include <QStringList>
#include <QTimer>

namespace morvantile::platform {

std::int64_t start_detached(const std::vector<std::string>& argv) {
    if (argv.empty() || argv.front().empty()) return 0;
    QStringList arguments;
    for (std::size_t i = 1; i < argv.size(); ++i) arguments << QString::fromStdString(argv[i]);
    qint64 pid = 0;
    if (!QProcess::startDetached(QString::fromStdString(argv.front()), arguments, QString(), &pid)) return 0;
    return pid;
}

bool our_window_has_focus() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) && QGuiApplication::focusWindow();
}

void run_events_for(int ms) {
    if (ms <= 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace morvantile::platform
