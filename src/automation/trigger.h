// Requests from the command line to the running copy: "morvantile encrypt",
// bound to a key in the desktop's own settings where no program may grab
// keys for itself, does in the running copy what the encrypt hotkey does.
//
// The request travels over a local stream socket in a folder only this user
// can enter, as one line:
//
//   MORVANTILE-TRIGGER 1 <word>[ token=<activation token>]\n
//
// and is answered with one line: "OK\n" (accepted, it runs now), "BUSY\n"
// (another request or dialog is under way; nothing was done) or
// "ERR <reason>\n". Fields after the word are "key=value"; keys this copy
// does not know are skipped, so that newer callers still reach it.
//
// Plain POSIX: the running copy's event loop watches the descriptors the
// server hands out and calls it when they are ready; the server never
// blocks on a client.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "automation/hotkeys.h"
#include "config/command_line.h"

namespace morvantile {

struct RuntimeState;

inline constexpr std::string_view kTriggerMagic = "MORVANTILE-TRIGGER";
inline constexpr int kTriggerVersion = 1;
// The longest request line, its line end included.
inline constexpr std::size_t kTriggerMaxLine = 4096;

struct TriggerRequest {
    TriggerWord word = TriggerWord::Encrypt;
    // The desktop's token that lets the request's dialog take the keyboard
    // focus (XDG_ACTIVATION_TOKEN of the caller); empty when there is none.
    std::string activation_token;
};

enum class TriggerAnswer { Ok, Busy, Error };

struct TriggerReply {
    TriggerAnswer answer = TriggerAnswer::Error;
    std::string reason;  // for Error only
};

// An activation token travels as one field: printable ASCII without blanks,
// at most 2048 characters.
bool valid_activation_token(std::string_view token);

// The request line, its line end included. A token that is not valid is
// left out (the request still runs, only without the focus hand-over).
std::string format_trigger_request(const TriggerRequest& request);

struct ParsedTriggerRequest {
    std::optional<TriggerRequest> request;
    std::string error;  // why not, when there is no request
};
// One request line without its line end.
ParsedTriggerRequest parse_trigger_request(std::string_view line);

// The answer line, its line end included.
std::string format_trigger_reply(const TriggerReply& reply);
// One answer line without its line end; nullopt when it is none.
std::optional<TriggerReply> parse_trigger_reply(std::string_view line);

// What a request stands for: the command the matching hotkey runs, under the
// same rule as a press: nothing while an operation runs or a request is
// still switching to its window or copying from it. Unlike a press it does
// not ask HotKeysEnabled: the key was bound in the desktop by the user, who
// switches it off there.
HotKeyCommand trigger_command(const RuntimeState& runtime, TriggerWord word, bool request_running);

// Where the socket lives: $XDG_RUNTIME_DIR/morvantile/trigger, or, without
// a usable XDG_RUNTIME_DIR, /tmp/morvantile-<uid>/trigger. The folder is
// created with mode 0700; it must be a real folder (not a link) owned by
// `uid`, and is closed to others if it was open. nullopt with `error` when
// there is no such folder.
std::optional<std::string> trigger_socket_path(const char* runtime_dir, uid_t uid, std::string& error);
// The same for this process's environment and user.
std::optional<std::string> trigger_socket_path(std::string& error);

// The running copy's side: decides and runs the requests.
class TriggerHandler {
public:
    virtual ~TriggerHandler() = default;
    // Whether the request can run now: the answer its caller gets.
    virtual TriggerReply accept(const TriggerRequest& request) = 0;
    // Runs an accepted request, once its caller has the answer and is gone
    // (the request may keep the event loop turning for a long time, in a
    // password dialog, for one).
    virtual void run(const TriggerRequest& request) = 0;
};

struct TriggerServerOptions {
    // A caller that has not sent its whole line in this time is dropped.
    std::chrono::milliseconds idle_timeout{3000};
    // Callers waiting at once; more are turned away at the door.
    std::size_t max_clients = 16;
    // Only this user's programs are served (the peer's credentials).
    uid_t allowed_uid = static_cast<uid_t>(-1);  // -1: this process's user
};

class TriggerServer {
public:
    // Listens at `path`. The caller holds the instance lock, so a socket
    // file already there is left from a copy that ended without cleaning
    // up: it is replaced, but only when it is a socket of this user.
    // nullptr with `error` on failure.
    static std::unique_ptr<TriggerServer> listen(const std::string& path, TriggerHandler& handler,
                                                 std::string& error, TriggerServerOptions options = {});
    // Closes every connection and removes the socket file if it is still
    // the one this server made.
    ~TriggerServer();
    TriggerServer(const TriggerServer&) = delete;
    TriggerServer& operator=(const TriggerServer&) = delete;

    int listen_fd() const { return listen_fd_; }
    const std::string& path() const { return path_; }
    std::size_t clients() const { return clients_.size(); }

    // Told (fd, true) when a caller's descriptor should be watched for
    // reading and (fd, false) before it is closed.
    std::function<void(int fd, bool watch)> watch;

    // The listening socket is readable: takes every waiting caller.
    void on_listen_ready();
    // A caller's descriptor is readable: reads what it has; a whole line is
    // answered and, when accepted, run.
    void on_client_ready(int fd);
    // Drops the callers that are past their time. Returns how long until
    // the next one is, or nullopt when nobody waits.
    std::optional<std::chrono::milliseconds> expire();

private:
    struct Client {
        std::string buffer;
        std::chrono::steady_clock::time_point deadline;
    };
    TriggerServer(std::string path, int fd, TriggerHandler& handler, TriggerServerOptions options);
    void drop(int fd);
    // Answers a caller that has been taken off the list.
    void answer(int fd, const TriggerReply& reply);

    std::string path_;
    int listen_fd_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    TriggerHandler& handler_;
    TriggerServerOptions options_;
    std::map<int, Client> clients_;
};

// The command line's side.
enum class TriggerSendStatus {
    Accepted,
    Busy,
    Refused,     // the running copy answered ERR
    NoInstance,  // no socket file
    Stale,       // a socket file nobody listens on
    Failed,      // anything else; see the message
};

struct TriggerSendResult {
    TriggerSendStatus status = TriggerSendStatus::Failed;
    std::string message;
};

// Sends one request and waits at most `timeout` for the answer. Nothing is
// sent unless the socket file and the program listening on it belong to
// `owner` (by default this process's user).
TriggerSendResult send_trigger(const std::string& path, const TriggerRequest& request,
                               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000),
                               uid_t owner = static_cast<uid_t>(-1));

// The whole hand-over of a command line's request.
struct TriggerHandOver {
    // nullopt: no copy runs, so this process starts as the program and
    // carries the request out itself.
    std::optional<int> exit_status;
    std::string message;  // for standard error, when not empty
};

// Sends `request` to the running copy. With no copy listening it asks
// `instance_running` (the instance lock): a copy that holds the lock but
// does not listen yet is still starting, and is asked again until `patience`
// runs out. Exit status 0: accepted; 2: busy; 1: anything else. "exit" with
// no copy running ends at once.
TriggerHandOver hand_over(const std::string& path, const TriggerRequest& request,
                          const std::function<bool()>& instance_running,
                          std::chrono::milliseconds patience = std::chrono::milliseconds(5000));

}  // namespace morvantile
