#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "cli/cli.h"
#include "textcrypt/text_encoding.h"

namespace morvantile::cli {

namespace {

// The terminal's settings from before echo was turned off. The handler puts
// them back before a signal ends the program, so an interrupted prompt does
// not leave a silent terminal behind.
int g_tty = -1;
termios g_saved{};
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void restore_terminal(int sig) {
    tcsetattr(g_tty, TCSAFLUSH, &g_saved);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void say(int fd, std::string_view text) {
    if (::write(fd, text.data(), text.size()) < 0) {}  // a prompt that cannot be shown is no error
}

// One line typed on the controlling terminal, with echo off.
std::string ask(std::string_view prompt) {
    struct Tty {
        int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
        bool quiet = false;
        ~Tty() {
            if (quiet) {
                tcsetattr(fd, TCSAFLUSH, &g_saved);
                for (int sig : kSignals) std::signal(sig, SIG_DFL);
                say(fd, "\n");
            }
            if (fd >= 0) ::close(fd);
        }
    } tty;
    if (tty.fd < 0)
        throw Failure("No password: give --password-file, --password-fd or MORVANTILE_PASSWORD, or use a terminal");
    termios t{};
    if (tcgetattr(tty.fd, &t) == 0) {
        g_saved = t;
        g_tty = tty.fd;
        for (int sig : kSignals) std::signal(sig, restore_terminal);
        t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tty.quiet = tcsetattr(tty.fd, TCSAFLUSH, &t) == 0;
    }
    say(tty.fd, prompt);
    return read_first_line(tty.fd, kMaxPasswordBytes, "the terminal");
}

Failure too_long(std::string_view what, std::size_t limit) {
    return Failure("The password from " + std::string(what) + " is longer than " + std::to_string(limit) +
                   " bytes, the most that is read");
}

}  // namespace

std::string read_first_line(int fd, std::size_t limit, std::string_view what) {
    WipedString line;
    line.s.reserve(256);
    for (char c;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw Failure(std::string("Cannot read the password: ") + std::strerror(errno));
        if (n == 0 || c == '\n') break;
        // One byte over, for the CR of a CR LF line end.
        if (line.s.size() > limit)
            throw too_long(what, limit);
        if (line.s.size() == line.s.capacity()) {
            // Move to a larger buffer by hand, so the old one is wiped, not just freed.
            WipedString bigger;
            bigger.s.reserve(2 * line.s.capacity());
            bigger.s.append(line.s);
            line.s.swap(bigger.s);
        }
        line.s.push_back(c);
    }
    if (!line.s.empty() && line.s.back() == '\r') line.s.pop_back();
    if (line.s.size() > limit)
        throw too_long(what, limit);
    return std::move(line.s);
}

std::string obtain_password(const PasswordSources& sources, bool confirm, std::string_view prompt,
                            int text_encoding) {
    WipedString password;
    if (!sources.file.empty()) {
        const int fd = ::open(sources.file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw Failure("Cannot open the password file " + sources.file + ": " + std::strerror(errno));
        try {
            password.s = read_first_line(fd, kMaxPasswordBytes, "the password file " + sources.file);
        } catch (...) {
            ::close(fd);
            throw;
        }
        ::close(fd);
    } else if (sources.fd >= 0) {
        password.s = read_first_line(sources.fd, kMaxPasswordBytes, "descriptor " + std::to_string(sources.fd));
    } else if (const char* env = std::getenv(kPasswordVariable)) {
        password.s = env;
    } else {
        password.s = ask(prompt);
        if (confirm && !password.s.empty() && WipedString{ask("Repeat password: ")}.s != password.s)
            throw Failure("The passwords do not match");
        WipedString typed(std::move(password.s));
        password.s = typed_text_bytes(typed.s, text_encoding);
    }
    if (password.s.empty()) throw Failure("The password must not be empty");
    return std::move(password.s);
}

}  // namespace morvantile::cli
