// Runs morvantile-cli as a child process (no shell) and collects what it
// wrote, the way pipes and mail filters use it.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/temp_files.h"

extern char** environ;

namespace morvantile::test {

struct Outcome {
    int status = -1;  // exit status, 128 + signal when killed
    std::string out, err;
};

struct Launch {
    std::vector<std::string> args;
    std::string input;                    // standard input
    std::optional<std::string> password;  // MORVANTILE_PASSWORD; nullopt: not set
    std::optional<std::string> fd3;       // what the child reads from descriptor 3
    Launch(std::vector<std::string> a, std::string in = {}, std::optional<std::string> pw = {},
           std::optional<std::string> extra = {})
        : args(std::move(a)), input(std::move(in)), password(std::move(pw)), fd3(std::move(extra)) {}
};

// An in-memory file holding `bytes`, at a descriptor above 3 so that the
// child's dup2 targets never collide with it.
inline int memory_file(std::string_view bytes = {}) {
    const int raw = ::memfd_create("morvantile-cli-test", 0);
    const int fd = ::fcntl(raw, F_DUPFD_CLOEXEC, 10);
    ::close(raw);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("memory file");
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

// A started morvantile-cli; finish() collects it.
struct Running {
    pid_t pid = -1;
    int fds[4] = {-1, -1, -1, -1};
};

// `stdin_path`, when given, is opened as standard input instead of
// `launch.input` (a device, a FIFO).
inline Running start_cli(const Launch& launch, const std::string& stdin_path = {}) {
    std::string password = "MORVANTILE_PASSWORD=" + launch.password.value_or("");
    std::vector<char*> argv{const_cast<char*>(MORVANTILE_CLI)}, envp;
    for (const std::string& a : launch.args) argv.push_back(const_cast<char*>(a.c_str()));
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, password.c_str(), 20) != 0) envp.push_back(*e);
    if (launch.password) envp.push_back(password.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    Running r;
    r.fds[0] = stdin_path.empty() ? memory_file(launch.input)
                                  : ::fcntl(::open(stdin_path.c_str(), O_RDONLY | O_CLOEXEC), F_DUPFD_CLOEXEC, 10);
    r.fds[1] = memory_file();
    r.fds[2] = memory_file();
    r.fds[3] = memory_file(launch.fd3.value_or(""));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int i = 0; i < (launch.fd3 ? 4 : 3); ++i) posix_spawn_file_actions_adddup2(&actions, r.fds[i], i);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // No controlling terminal: never a prompt. The signals a test sends
    // act as they do in a shell, even where the test runs with them ignored.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    if (posix_spawn(&r.pid, MORVANTILE_CLI, &actions, &attr, argv.data(), envp.data()) != 0) r.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return r;
}

// Waits for the program, at most `timeout_ms` (then it is killed and the
// status is -2: it hung), and collects what it wrote.
inline Outcome finish(Running& r, int timeout_ms = 120000) {
    Outcome o;
    int status = 0;
    for (int waited = 0; r.pid > 0;) {
        const pid_t done = ::waitpid(r.pid, &status, WNOHANG);
        if (done == r.pid) {
            o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (done < 0) break;
        if (waited >= timeout_ms) {
            ::kill(r.pid, SIGKILL);
            ::waitpid(r.pid, &status, 0);
            o.status = -2;
            break;
        }
        ::usleep(2000);
        waited += 2;
    }
    std::string* sinks[] = {nullptr, &o.out, &o.err, nullptr};
    for (int i = 0; i < 4; ++i) {
        char buf[65536];
        ::lseek(r.fds[i], 0, SEEK_SET);
        for (ssize_t n; sinks[i] && (n = ::read(r.fds[i], buf, sizeof buf)) > 0;) sinks[i]->append(buf, std::size_t(n));
        ::close(r.fds[i]);
    }
    return o;
}

inline Outcome run_cli(const Launch& launch, int timeout_ms = 120000) {
    Running r = start_cli(launch);
    return finish(r, timeout_ms);
}

// What the program prints on stderr for one of the product's messages.
inline std::string as_printed(std::string_view message) {
    std::string s(message);
    for (std::size_t i; (i = s.find("\r\n")) != std::string::npos;) s.erase(i, 1);
    return s + "\n";
}

}  // namespace morvantile::test
