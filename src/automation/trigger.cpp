#include "automation/trigger.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "config/settings.h"

namespace morvantile {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kMaxTokenSize = 2048;
constexpr std::size_t kMaxReplySize = 512;

std::string system_reason(int error) { return std::strerror(error); }

uid_t or_this_user(uid_t uid) { return uid == static_cast<uid_t>(-1) ? ::geteuid() : uid; }

std::vector<std::string_view> fields_of(std::string_view line) {
    std::vector<std::string_view> fields;
    while (!line.empty()) {
        const std::size_t blank = line.find(' ');
        if (blank != 0) fields.push_back(line.substr(0, blank));
        if (blank == std::string_view::npos) break;
        line.remove_prefix(blank + 1);
    }
    return fields;
}

bool printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

// A folder only `uid` can enter: made if missing, refused when it is a link,
// not a folder or somebody else's.
bool private_folder(const std::string& path, uid_t uid, std::string& error) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = path + ": " + system_reason(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        error = path + ": " + system_reason(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = path + " is not a folder.";
        return false;
    }
    if (st.st_uid != uid) {
        error = path + " belongs to another user.";
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
        error = path + ": " + system_reason(errno);
        return false;
    }
    return true;
}

bool socket_address(const std::string& path, sockaddr_un& address, std::string& error) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = "The socket path is too long: " + path;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::optional<uid_t> peer_uid(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return std::nullopt;
    return credentials.uid;
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd;
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

int remaining_ms(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

// Waits for `events` on `fd` until `deadline`; false on time-out or error.
bool wait_for(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, remaining_ms(deadline));
        if (n > 0) return true;
        if (n == 0) return false;
        if (errno != EINTR) return false;
    }
}

}  // namespace

bool valid_activation_token(std::string_view token) {
    return !token.empty() && token.size() <= kMaxTokenSize &&
           std::all_of(token.begin(), token.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

std::string format_trigger_request(const TriggerRequest& request) {
    std::string line = std::string(kTriggerMagic) + " " + std::to_string(kTriggerVersion) + " " +
                       std::string(trigger_word_name(request.word));
    if (valid_activation_token(request.activation_token)) line += " token=" + request.activation_token;
    return line + "\n";
}

ParsedTriggerRequest parse_trigger_request(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!printable(line)) return {std::nullopt, "not a request"};
    const std::vector<std::string_view> fields = fields_of(line);
    if (fields.empty() || fields[0] != kTriggerMagic) return {std::nullopt, "not a request"};
    if (fields.size() < 2 || fields[1] != std::to_string(kTriggerVersion)) return {std::nullopt, "unsupported version"};
    if (fields.size() < 3) return {std::nullopt, "no request word"};
    TriggerRequest request;
    // The protocol's words are exact; only the command line is lenient.
    bool known = false;
    for (TriggerWord word : {TriggerWord::Encrypt, TriggerWord::Decrypt, TriggerWord::Options, TriggerWord::Exit}) {
        if (fields[2] == trigger_word_name(word)) {
            request.word = word;
            known = true;
        }
    }
    if (!known) return {std::nullopt, "unknown request word"};
    for (std::size_t i = 3; i < fields.size(); ++i) {
        const std::size_t equals = fields[i].find('=');
        if (equals == std::string_view::npos || equals == 0) return {std::nullopt, "malformed field"};
        const std::string_view key = fields[i].substr(0, equals);
        const std::string_view value = fields[i].substr(equals + 1);
        if (key == "token") {
            if (!valid_activation_token(value)) return {std::nullopt, "invalid activation token"};
            request.activation_token = std::string(value);
        }
    }
    return {std::move(request), {}};
}

std::string format_trigger_reply(const TriggerReply& reply) {
    switch (reply.answer) {
    case TriggerAnswer::Ok:
        return "OK\n";
    case TriggerAnswer::Busy:
        return "BUSY\n";
    case TriggerAnswer::Error:
        break;
    }
    std::string reason = reply.reason.substr(0, 200);
    for (char& c : reason)
        if (c < 0x20 || c >= 0x7f) c = ' ';
    return reason.empty() ? "ERR\n" : "ERR " + reason + "\n";
}

std::optional<TriggerReply> parse_trigger_reply(std::string_view line) {
    if (line == "OK") return TriggerReply{TriggerAnswer::Ok, {}};
    if (line == "BUSY") return TriggerReply{TriggerAnswer::Busy, {}};
    if (line == "ERR") return TriggerReply{TriggerAnswer::Error, {}};
    if (line.starts_with("ERR ") && printable(line)) return TriggerReply{TriggerAnswer::Error, std::string(line.substr(4))};
    return std::nullopt;
}

HotKeyCommand trigger_command(const RuntimeState& runtime, TriggerWord word, bool request_running) {
    if (request_running) return HotKeyCommand::Ignore;
    // As with the exit hotkey: a file operation types nothing, so the
    // program may end once the file work under way is done.
    if (runtime.OperationBusy)
        return runtime.FileMode && word == TriggerWord::Exit ? HotKeyCommand::Exit : HotKeyCommand::Ignore;
    switch (word) {
    case TriggerWord::Encrypt:
        return HotKeyCommand::Encrypt;
    case TriggerWord::Decrypt:
        return HotKeyCommand::Decrypt;
    case TriggerWord::Options:
        return HotKeyCommand::Options;
    case TriggerWord::Exit:
        return HotKeyCommand::Exit;
    }
    return HotKeyCommand::Ignore;
}

std::optional<std::string> trigger_socket_path(const char* runtime_dir, uid_t uid, std::string& error) {
    std::string folder;
    if (runtime_dir != nullptr && runtime_dir[0] == '/') {
        struct stat st {};
        if (::stat(runtime_dir, &st) == 0 && S_ISDIR(st.st_mode)) folder = std::string(runtime_dir) + "/morvantile";
    }
    // Without a runtime folder: one of this user's own under /tmp; a folder
    // of that name that somebody else made is refused, never used.
    if (folder.empty()) folder = "/tmp/morvantile-" + std::to_string(uid);
    if (!private_folder(folder, uid, error)) return std::nullopt;
    std::string path = folder + "/trigger";
    sockaddr_un address;
    if (!socket_address(path, address, error)) return std::nullopt;
    return path;
}

std::optional<std::string> trigger_socket_path(std::string& error) {
    return trigger_socket_path(std::getenv("XDG_RUNTIME_DIR"), ::geteuid(), error);
}

// --- The running copy's side ------------------------------------------------

TriggerServer::TriggerServer(std::string path, int fd, TriggerHandler& handler, TriggerServerOptions options)
    : path_(std::move(path)), listen_fd_(fd), handler_(handler), options_(options) {
    options_.allowed_uid = or_this_user(options_.allowed_uid);
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0) {
        dev_ = st.st_dev;
        ino_ = st.st_ino;
    }
}

std::unique_ptr<TriggerServer> TriggerServer::listen(const std::string& path, TriggerHandler& handler,
                                                     std::string& error, TriggerServerOptions options) {
    sockaddr_un address;
    if (!socket_address(path, address, error)) return nullptr;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) {
            error = path + " is in the way and is not a socket of this user; it was left alone.";
            return nullptr;
        }
        ::unlink(path.c_str());
    }
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.fd < 0) {
        error = "socket: " + system_reason(errno);
        return nullptr;
    }
    if (::bind(fd.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = path + ": " + system_reason(errno);
        return nullptr;
    }
    // The folder is closed to others already; the socket is too.
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(fd.fd, 16) != 0) {
        error = path + ": " + system_reason(errno);
        ::unlink(path.c_str());
        return nullptr;
    }
    std::unique_ptr<TriggerServer> server(new TriggerServer(path, fd.fd, handler, options));
    fd.fd = -1;
    return server;
}

TriggerServer::~TriggerServer() {
    for (const auto& [fd, client] : clients_) ::close(fd);
    ::close(listen_fd_);
    // A later copy may have taken the name over; only our own file goes.
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) ::unlink(path_.c_str());
}

void TriggerServer::answer(int fd, const TriggerReply& reply) {
    const std::string line = format_trigger_reply(reply);
    // A few bytes into an empty socket buffer; a caller that has gone
    // simply misses them.
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
    }
    ::close(fd);
}

void TriggerServer::drop(int fd) {
    clients_.erase(fd);
    if (watch) watch(fd, false);
    ::close(fd);
}

void TriggerServer::on_listen_ready() {
    for (;;) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;
        }
        if (peer_uid(fd) != options_.allowed_uid) {
            answer(fd, {TriggerAnswer::Error, "permission denied"});
            continue;
        }
        if (clients_.size() >= options_.max_clients) {
            answer(fd, {TriggerAnswer::Busy, {}});
            continue;
        }
        clients_[fd] = Client{{}, Clock::now() + options_.idle_timeout};
        if (watch) watch(fd, true);
    }
}

void TriggerServer::on_client_ready(int fd) {
    const auto it = clients_.find(fd);
    if (it == clients_.end()) return;
    std::string& buffer = it->second.buffer;
    char chunk[1024];
    for (;;) {
        const std::size_t room = std::min(sizeof chunk, kTriggerMaxLine - buffer.size());
        const ssize_t n = ::recv(fd, chunk, room, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n <= 0) {  // gone before a whole line, or broken
            drop(fd);
            return;
        }
        const std::size_t searched = buffer.size();
        buffer.append(chunk, static_cast<std::size_t>(n));
        const std::size_t end = buffer.find('\n', searched);
        if (end == std::string::npos && buffer.size() < kTriggerMaxLine) continue;

        // The caller leaves the list before anything runs: the request may
        // keep the event loop turning, and this descriptor must not be
        // served twice meanwhile.
        const std::string line = end == std::string::npos ? std::string() : buffer.substr(0, end);
        clients_.erase(it);
        if (watch) watch(fd, false);
        if (end == std::string::npos) {
            answer(fd, {TriggerAnswer::Error, "request too long"});
            return;
        }
        const ParsedTriggerRequest parsed = parse_trigger_request(line);
        if (!parsed.request) {
            answer(fd, {TriggerAnswer::Error, parsed.error});
            return;
        }
        const TriggerReply reply = handler_.accept(*parsed.request);
        answer(fd, reply);
        // Nothing of this object is used after run(): the program may be
        // on its way out when it returns.
        if (reply.answer == TriggerAnswer::Ok) handler_.run(*parsed.request);
        return;
    }
}

std::optional<milliseconds> TriggerServer::expire() {
    const Clock::time_point now = Clock::now();
    std::vector<int> late;
    std::optional<Clock::time_point> next;
    for (const auto& [fd, client] : clients_) {
        if (client.deadline <= now) {
            late.push_back(fd);
        } else if (!next || client.deadline < *next) {
            next = client.deadline;
        }
    }
    for (const int fd : late) {
        clients_.erase(fd);
        if (watch) watch(fd, false);
        answer(fd, {TriggerAnswer::Error, "timed out"});
    }
    if (!next) return std::nullopt;
    return std::chrono::ceil<milliseconds>(*next - now);
}

// --- The command line's side ------------------------------------------------

TriggerSendResult send_trigger(const std::string& path, const TriggerRequest& request, milliseconds timeout,
                               uid_t owner) {
    owner = or_this_user(owner);
    const Clock::time_point deadline = Clock::now() + timeout;
    using S = TriggerSendStatus;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return {S::NoInstance, {}};
        return {S::Failed, path + ": " + system_reason(errno)};
    }
    // Neither the request nor the activation token goes to somebody else.
    if (!S_ISSOCK(st.st_mode)) return {S::Failed, path + " is not a socket; nothing was sent."};
    if (st.st_uid != owner) return {S::Failed, path + " belongs to another user; nothing was sent."};

    sockaddr_un address;
    std::string error;
    if (!socket_address(path, address, error)) return {S::Failed, error};
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.fd < 0) return {S::Failed, "socket: " + system_reason(errno)};
    for (;;) {
        if (::connect(fd.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) break;
        const int e = errno;
        if (e == ECONNREFUSED) return {S::Stale, {}};
        if (e == ENOENT) return {S::NoInstance, {}};
        if (e == EINTR) continue;
        if (e != EAGAIN) return {S::Failed, path + ": " + system_reason(e)};
        // A full queue: the running copy has not taken its callers yet.
        if (Clock::now() >= deadline) return {S::Failed, "Morvantile does not answer."};
        std::this_thread::sleep_for(milliseconds(20));
    }
    if (peer_uid(fd.fd) != owner)
        return {S::Failed, "The program at " + path + " belongs to another user; nothing was sent."};

    const std::string line = format_trigger_request(request);
    std::size_t sent = 0;
    int send_error = 0;
    while (sent < line.size()) {
        const ssize_t n = ::send(fd.fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_for(fd.fd, POLLOUT, deadline)) return {S::Failed, "Morvantile does not answer."};
        } else {
            // The running copy may have answered and hung up before reading
            // (a caller it does not serve): its answer is still there.
            send_error = errno;
            break;
        }
    }

    std::string reply;
    for (;;) {
        const std::size_t end = reply.find('\n');
        if (end != std::string::npos) {
            const std::optional<TriggerReply> parsed = parse_trigger_reply(reply.substr(0, end));
            if (!parsed) return {S::Failed, "Morvantile's answer was not understood."};
            switch (parsed->answer) {
            case TriggerAnswer::Ok:
                return {S::Accepted, {}};
            case TriggerAnswer::Busy:
                return {S::Busy, {}};
            case TriggerAnswer::Error:
                return {S::Refused, parsed->reason};
            }
        }
        if (reply.size() >= kMaxReplySize) return {S::Failed, "Morvantile's answer was not understood."};
        if (!wait_for(fd.fd, POLLIN, deadline)) return {S::Failed, "Morvantile does not answer."};
        char chunk[256];
        const ssize_t n = ::recv(fd.fd, chunk, std::min(sizeof chunk, kMaxReplySize - reply.size()), 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n <= 0 && send_error != 0) return {S::Failed, "Sending the request failed: " + system_reason(send_error)};
        if (n <= 0) return {S::Failed, "Morvantile closed the connection without an answer."};
        reply.append(chunk, static_cast<std::size_t>(n));
    }
}

TriggerHandOver hand_over(const std::string& path, const TriggerRequest& request,
                          const std::function<bool()>& instance_running, milliseconds patience) {
    const Clock::time_point deadline = Clock::now() + patience;
    for (;;) {
        const TriggerSendResult result = send_trigger(path, request);
        switch (result.status) {
        case TriggerSendStatus::Accepted:
            return {0, {}};
        case TriggerSendStatus::Busy:
            return {2, "Morvantile is busy with another request or dialog; nothing was done."};
        case TriggerSendStatus::Refused:
            return {1, "Morvantile refused the request: " + result.message};
        case TriggerSendStatus::Failed:
            return {1, result.message};
        case TriggerSendStatus::NoInstance:
        case TriggerSendStatus::Stale:
            break;
        }
        // Nobody listens. Without a running copy this process becomes it
        // (and the new copy replaces a stale socket file when it listens).
        if (!instance_running()) {
            if (request.word == TriggerWord::Exit) return {1, "Morvantile is not running."};
            return {std::nullopt, {}};
        }
        // A copy that is still starting listens once it has started.
        if (Clock::now() >= deadline)
            return {1, "Morvantile is running but does not take requests; try again in a moment."};
        std::this_thread::sleep_for(std::min(milliseconds(100), patience));
    }
}

}  // namespace morvantile
