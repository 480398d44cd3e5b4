#include "automation/trigger.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <future>
#include <set>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "support/temp_files.h"

namespace morvantile {
namespace {

using namespace std::chrono_literals;
using test::TempFolder;

constexpr uid_t kNobody = 65534;

TEST(TriggerProtocol, RequestsTravelWithTheirTokenAndAnythingElseIsRefusedWithAReason) {
    EXPECT_EQ(format_trigger_request({TriggerWord::Decrypt, {}}), "MORVANTILE-TRIGGER 1 decrypt\n");
    EXPECT_EQ(format_trigger_request({TriggerWord::Exit, "kwin-1234_TIME5"}),
              "MORVANTILE-TRIGGER 1 exit token=kwin-1234_TIME5\n");
    // A token that would break the line is left out, not sent broken.
    EXPECT_EQ(format_trigger_request({TriggerWord::Options, "two words"}), "MORVANTILE-TRIGGER 1 options\n");
    EXPECT_FALSE(valid_activation_token(std::string(2049, 'x')));
    EXPECT_TRUE(valid_activation_token(std::string(2048, 'x')));

    for (TriggerWord word : {TriggerWord::Encrypt, TriggerWord::Decrypt, TriggerWord::Options, TriggerWord::Exit}) {
        std::string line = format_trigger_request({word, "t0k"});
        line.pop_back();
        const ParsedTriggerRequest parsed = parse_trigger_request(line);
        ASSERT_TRUE(parsed.request) << line;
        EXPECT_EQ(parsed.request->word, word);
        EXPECT_EQ(parsed.request->activation_token, "t0k");
    }
    // Fields a newer caller adds are skipped; a CR LF line end is taken.
    const ParsedTriggerRequest newer = parse_trigger_request("MORVANTILE-TRIGGER 1 encrypt  colour=blue token=a\r");
    ASSERT_TRUE(newer.request);
    EXPECT_EQ(newer.request->activation_token, "a");

    const std::pair<const char*, const char*> refused[] = {
        {"", "not a request"},
        {"GET / HTTP/1.1", "not a request"},
        {"MORVANTILE-TRIGGER", "unsupported version"},
        {"MORVANTILE-TRIGGER 2 encrypt", "unsupported version"},
        {"MORVANTILE-TRIGGER 1", "no request word"},
        {"MORVANTILE-TRIGGER 1 ENCRYPT", "unknown request word"},
        {"MORVANTILE-TRIGGER 1 nosplash", "unknown request word"},
        {"MORVANTILE-TRIGGER 1 encrypt token", "malformed field"},
        {"MORVANTILE-TRIGGER 1 encrypt =x", "malformed field"},
        {"MORVANTILE-TRIGGER 1 encrypt token=", "invalid activation token"},
        {"MORVANTILE-TRIGGER 1 encrypt\ttoken=a", "not a request"},
        {"MORVANTILE-TRIGGER 1 encrypt token=\xc3\xa9", "not a request"},
    };
    for (const auto& [line, reason] : refused) {
        const ParsedTriggerRequest parsed = parse_trigger_request(line);
        EXPECT_FALSE(parsed.request) << line;
        EXPECT_EQ(parsed.error, reason) << line;
    }

    EXPECT_EQ(format_trigger_reply({TriggerAnswer::Ok, "ignored"}), "OK\n");
    EXPECT_EQ(format_trigger_reply({TriggerAnswer::Busy, {}}), "BUSY\n");
    EXPECT_EQ(format_trigger_reply({TriggerAnswer::Error, "bad\nline"}), "ERR bad line\n");
    EXPECT_EQ(parse_trigger_reply("ERR timed out")->reason, "timed out");
    EXPECT_EQ(parse_trigger_reply("BUSY")->answer, TriggerAnswer::Busy);
    EXPECT_FALSE(parse_trigger_reply("OKAY"));
    EXPECT_FALSE(parse_trigger_reply("ok"));
}

TEST(TriggerProtocol, RequestsObeyTheBusyRulesOfAHotKeyButNotItsSwitch) {
    RuntimeState runtime;
    EXPECT_EQ(trigger_command(runtime, TriggerWord::Encrypt, false), HotKeyCommand::Encrypt);
    EXPECT_EQ(trigger_command(runtime, TriggerWord::Decrypt, false), HotKeyCommand::Decrypt);
    EXPECT_EQ(trigger_command(runtime, TriggerWord::Options, false), HotKeyCommand::Options);
    EXPECT_EQ(trigger_command(runtime, TriggerWord::Exit, false), HotKeyCommand::Exit);
    // No hotkey texts at all (as on a desktop without grabs): still served.
    EXPECT_EQ(runtime.EncryptShortCut, 0);
    EXPECT_EQ(trigger_command(runtime, TriggerWord::Exit, true), HotKeyCommand::Ignore);
    runtime.OperationBusy = true;
    EXPECT_EQ(trigger_command(runtime, TriggerWord::Exit, false), HotKeyCommand::Ignore);
    // A file operation types nothing: only `exit` is taken while it runs.
    runtime.FileMode = true;
    EXPECT_EQ(trigger_command(runtime, TriggerWord::Exit, false), HotKeyCommand::Exit);
    EXPECT_EQ(trigger_command(runtime, TriggerWord::Encrypt, false), HotKeyCommand::Ignore);
    EXPECT_EQ(trigger_command(runtime, TriggerWord::Options, false), HotKeyCommand::Ignore);
}

TEST(TriggerSocketPath, APrivateFolderInTheRuntimeFolder) {
    TempFolder runtime;
    std::string error;
    const auto path = trigger_socket_path(runtime.path.c_str(), ::geteuid(), error);
    ASSERT_TRUE(path) << error;
    EXPECT_EQ(*path, runtime / "morvantile/trigger");
    struct stat st {};
    ASSERT_EQ(::stat((runtime / "morvantile").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Opened by somebody: closed again.
    ::chmod((runtime / "morvantile").c_str(), 0755);
    ASSERT_TRUE(trigger_socket_path(runtime.path.c_str(), ::geteuid(), error));
    ::stat((runtime / "morvantile").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A link in its place, or a folder of another user, is never used.
    TempFolder other;
    std::filesystem::remove(runtime / "morvantile");
    std::filesystem::create_directory_symlink(other.path, runtime / "morvantile");
    EXPECT_FALSE(trigger_socket_path(runtime.path.c_str(), ::geteuid(), error));
    EXPECT_NE(error.find("is not a folder"), std::string::npos) << error;
    std::filesystem::remove(runtime / "morvantile");
    std::filesystem::create_directory(runtime / "morvantile");
    EXPECT_FALSE(trigger_socket_path(runtime.path.c_str(), ::geteuid() + 1, error));
    EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
}

// Records what the running copy was asked for; `busy` stands for an
// operation under way.
struct Recorder : TriggerHandler {
    bool busy = false;
    std::vector<TriggerRequest> ran;
    std::function<void()> during_run;
    TriggerReply accept(const TriggerRequest& request) override {
        if (request.activation_token == "refuse") return {TriggerAnswer::Error, "not today"};
        return {busy ? TriggerAnswer::Busy : TriggerAnswer::Ok, {}};
    }
    void run(const TriggerRequest& request) override {
        ran.push_back(request);
        if (during_run) {
            busy = true;
            during_run();
            busy = false;
        }
    }
};

// The event loop of the running copy, in small: watches what the server
// asks to be watched.
struct Loop {
    TriggerServer& server;
    std::set<int> watched;
    explicit Loop(TriggerServer& s) : server(s) {
        server.watch = [this](int fd, bool on) {
            if (on)
                watched.insert(fd);
            else
                watched.erase(fd);
        };
    }
    void once(int timeout_ms = 10) {
        std::vector<pollfd> fds{{server.listen_fd(), POLLIN, 0}};
        for (int fd : watched) fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), timeout_ms) > 0) {
            for (const pollfd& p : fds) {
                if (p.revents == 0) continue;
                if (p.fd == server.listen_fd())
                    server.on_listen_ready();
                else
                    server.on_client_ready(p.fd);
            }
        }
        server.expire();
    }
    template <class Done>
    void until(Done done, std::chrono::milliseconds limit = 20s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < end) once();
    }
};

template <class T>
bool ready(const std::future<T>& f) {
    return f.wait_for(0s) == std::future_status::ready;
}

std::future<TriggerSendResult> send_async(const std::string& path, TriggerRequest request, uid_t owner = -1) {
    return std::async(std::launch::async, [=] { return send_trigger(path, request, 3s, owner); });
}

// A client that connects by hand and sends exactly `bytes`.
int connect_raw(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

// What the server wrote until it closed the connection; a server that
// never does makes this give up after a while instead of hanging the test.
std::string read_all(int fd) {
    std::string out;
    char chunk[256];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) {
            ADD_FAILURE() << "the server neither answered nor closed";
            return out;
        }
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return out;
        out.append(chunk, static_cast<std::size_t>(n));
    }
}

struct Channel {
    TempFolder folder;
    std::string path = folder / "trigger";
    Recorder handler;
    std::string error;
    std::unique_ptr<TriggerServer> server;
    explicit Channel(TriggerServerOptions options = {}) {
        options.idle_timeout = 300ms;
        server = TriggerServer::listen(path, handler, error, options);
    }
};

TEST(TriggerChannel, AnAcceptedRequestRunsAfterItsCallerHasTheAnswer) {
    Channel c;
    ASSERT_TRUE(c.server) << c.error;
    struct stat st {};
    ASSERT_EQ(::stat(c.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    Loop loop(*c.server);

    // The caller is gone by the time the request runs (a password dialog
    // may stay open for minutes).
    std::future<TriggerSendResult> sent = send_async(c.path, {TriggerWord::Decrypt, "tok-1"});
    c.handler.during_run = [&] { EXPECT_TRUE(sent.wait_for(3s) == std::future_status::ready); };
    loop.until([&] { return ready(sent); });
    EXPECT_EQ(sent.get().status, TriggerSendStatus::Accepted);
    ASSERT_EQ(c.handler.ran.size(), 1u);
    EXPECT_EQ(c.handler.ran[0].word, TriggerWord::Decrypt);
    EXPECT_EQ(c.handler.ran[0].activation_token, "tok-1");
    c.handler.during_run = nullptr;

    c.handler.busy = true;
    sent = send_async(c.path, {TriggerWord::Encrypt, {}});
    loop.until([&] { return ready(sent); });
    EXPECT_EQ(sent.get().status, TriggerSendStatus::Busy);
    c.handler.busy = false;

    sent = send_async(c.path, {TriggerWord::Encrypt, "refuse"});
    loop.until([&] { return ready(sent); });
    const TriggerSendResult refused = sent.get();
    EXPECT_EQ(refused.status, TriggerSendStatus::Refused);
    EXPECT_EQ(refused.message, "not today");
    EXPECT_EQ(c.handler.ran.size(), 1u) << "busy and refused requests do not run";

    // The socket file goes with the server.
    c.server.reset();
    EXPECT_FALSE(std::filesystem::exists(c.path));
    EXPECT_EQ(send_trigger(c.path, {}).status, TriggerSendStatus::NoInstance);
}

TEST(TriggerChannel, AStaleSocketStartsANewCopyWhichReplacesIt) {
    TempFolder folder;
    const std::string path = folder / "trigger";
    {
        // A copy that was killed leaves its socket file behind.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    EXPECT_EQ(send_trigger(path, {}).status, TriggerSendStatus::Stale);
    bool asked = false;
    const TriggerHandOver start = hand_over(path, {TriggerWord::Encrypt, {}}, [&] { return asked = true, false; });
    EXPECT_TRUE(asked);
    EXPECT_FALSE(start.exit_status) << "no copy runs: this one starts";
    const TriggerHandOver exit = hand_over(path, {TriggerWord::Exit, {}}, [] { return false; });
    EXPECT_EQ(exit.exit_status, 1);
    EXPECT_EQ(exit.message, "Morvantile is not running.");
    EXPECT_TRUE(std::filesystem::exists(path)) << "callers never remove it";

    Recorder handler;
    std::string error;
    auto server = TriggerServer::listen(path, handler, error);
    ASSERT_TRUE(server) << error;
    Loop loop(*server);
    auto sent = send_async(path, {TriggerWord::Options, {}});
    loop.until([&] { return ready(sent); });
    EXPECT_EQ(sent.get().status, TriggerSendStatus::Accepted);

    // Anything but a socket of this user in its place is left alone.
    server.reset();
    test::write_file(path, "notes");
    EXPECT_FALSE(TriggerServer::listen(path, handler, error));
    EXPECT_EQ(test::read_file(path), "notes");
    EXPECT_EQ(send_trigger(path, {}).status, TriggerSendStatus::Failed);
}

TEST(TriggerChannel, NothingGoesToAnotherUsersSocketAndOthersAreTurnedAway) {
    Channel c;
    ASSERT_TRUE(c.server) << c.error;
    Loop loop(*c.server);
    // The caller expects another owner than the socket's (a socket of
    // somebody else's, as this caller sees it).
    const TriggerSendResult foreign = send_trigger(c.path, {TriggerWord::Encrypt, "secret"}, 1s, ::geteuid() + 1);
    EXPECT_EQ(foreign.status, TriggerSendStatus::Failed);
    EXPECT_NE(foreign.message.find("belongs to another user"), std::string::npos) << foreign.message;
    loop.once();
    EXPECT_EQ(c.server->clients(), 0u) << "not even connected";

    if (::geteuid() == 0) {
        // For real: the socket file handed to nobody.
        ASSERT_EQ(::chown(c.path.c_str(), kNobody, kNobody), 0);
        EXPECT_EQ(send_trigger(c.path, {TriggerWord::Encrypt, "secret"}).status, TriggerSendStatus::Failed);
        ASSERT_EQ(::chown(c.path.c_str(), 0, 0), 0);
    }

    // A server that serves only another user refuses this one.
    Channel strict(TriggerServerOptions{.allowed_uid = ::geteuid() + 1});
    ASSERT_TRUE(strict.server) << strict.error;
    Loop strict_loop(*strict.server);
    auto sent = send_async(strict.path, {TriggerWord::Exit, {}});
    strict_loop.until([&] { return ready(sent); });
    const TriggerSendResult denied = sent.get();
    EXPECT_EQ(denied.status, TriggerSendStatus::Refused);
    EXPECT_EQ(denied.message, "permission denied");
    EXPECT_TRUE(strict.handler.ran.empty());
}

TEST(TriggerChannel, GarbageLongLinesAndSilentCallersAreDroppedAndOthersStillServed) {
    Channel c;
    ASSERT_TRUE(c.server) << c.error;
    Loop loop(*c.server);

    const int garbage = connect_raw(c.path);
    ASSERT_GT(::send(garbage, "\x16\x03\x01\x00\xff\n", 6, MSG_NOSIGNAL), 0);
    loop.until([&] { return readable(garbage); });
    EXPECT_EQ(read_all(garbage), "ERR not a request\n");
    ::close(garbage);

    const int endless = connect_raw(c.path);
    const std::string flood(kTriggerMaxLine + 100, 'A');
    ASSERT_GT(::send(endless, flood.data(), flood.size(), MSG_NOSIGNAL), 0);
    const int silent = connect_raw(c.path);
    loop.until([&] { return readable(endless); });
    EXPECT_EQ(read_all(endless), "ERR request too long\n");
    ::close(endless);

    // The silent caller holds nothing up...
    auto sent = send_async(c.path, {TriggerWord::Encrypt, {}});
    loop.until([&] { return ready(sent); });
    EXPECT_EQ(sent.get().status, TriggerSendStatus::Accepted);
    EXPECT_EQ(c.server->clients(), 1u);
    // ...and goes when its time is up.
    loop.until([&] { return readable(silent); });
    EXPECT_EQ(c.server->clients(), 0u);
    EXPECT_EQ(read_all(silent), "ERR timed out\n");
    ::close(silent);
    EXPECT_EQ(c.server->expire(), std::nullopt);
    EXPECT_EQ(c.handler.ran.size(), 1u);
}

TEST(TriggerChannel, TwoCallersAtOnceAreServedOneAfterTheOther) {
    Channel c;
    ASSERT_TRUE(c.server) << c.error;
    Loop loop(*c.server);
    auto first = send_async(c.path, {TriggerWord::Encrypt, "a"});
    auto second = send_async(c.path, {TriggerWord::Decrypt, "b"});
    loop.until([&] { return ready(first) && ready(second); });
    EXPECT_EQ(first.get().status, TriggerSendStatus::Accepted);
    EXPECT_EQ(second.get().status, TriggerSendStatus::Accepted);
    ASSERT_EQ(c.handler.ran.size(), 2u);
    EXPECT_NE(c.handler.ran[0].word, c.handler.ran[1].word);

    // A request that keeps the loop turning (a dialog): one arriving
    // meanwhile is answered at once, as busy, and does not run inside it.
    std::future<TriggerSendResult> inner;
    c.handler.during_run = [&] {
        inner = send_async(c.path, {TriggerWord::Options, {}});
        loop.until([&] { return ready(inner); });
    };
    auto outer = send_async(c.path, {TriggerWord::Encrypt, {}});
    loop.until([&] { return ready(outer) && inner.valid() && ready(inner); });
    EXPECT_EQ(outer.get().status, TriggerSendStatus::Accepted);
    EXPECT_EQ(inner.get().status, TriggerSendStatus::Busy);
    EXPECT_EQ(c.handler.ran.size(), 3u);
}

TEST(TriggerChannel, ACopyStillStartingIsWaitedForAWhile) {
    TempFolder folder;
    const std::string path = folder / "trigger";
    auto handed = std::async(std::launch::async,
                             [&] { return hand_over(path, {TriggerWord::Options, {}}, [] { return true; }, 3s); });
    std::this_thread::sleep_for(300ms);
    Recorder handler;
    std::string error;
    auto server = TriggerServer::listen(path, handler, error);
    ASSERT_TRUE(server) << error;
    Loop loop(*server);
    loop.until([&] { return ready(handed); });
    const TriggerHandOver result = handed.get();
    EXPECT_EQ(result.exit_status, 0) << result.message;
    EXPECT_EQ(handler.ran.size(), 1u);

    server.reset();
    const TriggerHandOver gave_up = hand_over(path, {TriggerWord::Options, {}}, [] { return true; }, 200ms);
    EXPECT_EQ(gave_up.exit_status, 1);
    EXPECT_NE(gave_up.message.find("does not take requests"), std::string::npos) << gave_up.message;
}

}  // namespace
}  // namespace morvantile
