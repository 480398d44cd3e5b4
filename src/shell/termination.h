// The end of the program from outside: SIGTERM (the session ending, a
// service manager), SIGHUP (the terminal or the login going away) and
// SIGINT (Ctrl+C where the program was started). A signal handler may do
// next to nothing, so it only passes the signal on to the event loop,
// where the program then ends as its Exit does.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace morvantile::shell {

class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; one instance at a time. Destroying it puts the
    // default handling back.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

signals:
    // On the GUI thread, once per signal that arrived.
    void received(int signal);

private:
    int fds_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace morvantile::shell
