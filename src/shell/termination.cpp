#include "shell/termination.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace morvantile::shell {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The write end, for the handler; -1 while no instance listens.
volatile sig_atomic_t g_write_fd = -1;

extern "C" void pass_on(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full socket means the loop has not read the last ones yet; one
    // signal waiting is all it needs.
    if (g_write_fd >= 0 && ::write(g_write_fd, &number, 1) < 0) {
    }
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0) return;
    g_write_fd = fds_[1];
    notifier_ = new QSocketNotifier(fds_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        unsigned char numbers[16];
        ssize_t n;
        while ((n = ::read(fds_[0], numbers, sizeof numbers)) > 0)
            for (ssize_t i = 0; i < n; ++i) emit received(numbers[i]);
    });
    struct sigaction action {};
    action.sa_handler = pass_on;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    for (const int signal : kSignals) std::signal(signal, SIG_DFL);
    g_write_fd = -1;
    delete notifier_;
    for (const int fd : fds_)
        if (fd >= 0) ::close(fd);
}

}  // namespace morvantile::shell
