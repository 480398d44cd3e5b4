#include "shell/trigger_listener.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "config/command_line.h"
#include "shell/instance_lock.h"

namespace morvantile::shell {

namespace {

constexpr char kTokenVariable[] = "XDG_ACTIVATION_TOKEN";

void report(const std::string& message) {
    if (!message.empty()) std::fprintf(stderr, "morvantile: %s\n", message.c_str());
}

}  // namespace

std::optional<int> hand_over_trigger(const std::vector<std::string>& params) {
    const std::optional<TriggerWord> word = command_line_trigger(params);
    if (!word) return std::nullopt;
    TriggerRequest request{*word, {}};
    // Set by the desktop that ran this command for a key press.
    if (const char* token = std::getenv(kTokenVariable); token != nullptr && valid_activation_token(token))
        request.activation_token = token;

    const std::string lock_path = InstanceLock::default_path(user_config_folder().value_or(std::string()));
    const auto instance_running = [&lock_path] { return !InstanceLock::acquire(lock_path).has_value(); };
    std::string error;
    const std::optional<std::string> path = trigger_socket_path(error);
    if (!path) {
        // No socket to reach a copy by; without one this process is it.
        if (!instance_running()) {
            if (*word != TriggerWord::Exit) return std::nullopt;
            error = "Morvantile is not running.";
        }
        report(error);
        return 1;
    }
    const TriggerHandOver result = hand_over(*path, request, instance_running);
    report(result.message);
    return result.exit_status;
}

std::unique_ptr<TriggerListener> TriggerListener::listen(const std::string& path, TriggerHandler& handler,
                                                         std::string& error, TriggerServerOptions options) {
    std::unique_ptr<TriggerServer> server = TriggerServer::listen(path, handler, error, options);
    if (!server) return nullptr;
    return std::unique_ptr<TriggerListener>(new TriggerListener(std::move(server)));
}

TriggerListener::TriggerListener(std::unique_ptr<TriggerServer> server) : server_(std::move(server)) {
    server_->watch = [this](int fd, bool on) { watch(fd, on); };
    quiet_ = new QTimer(this);
    quiet_->setSingleShot(true);
    connect(quiet_, &QTimer::timeout, this, [this] { expire(); });
    listening_ = new QSocketNotifier(server_->listen_fd(), QSocketNotifier::Read, this);
    connect(listening_, &QSocketNotifier::activated, this, [this] {
        server_->on_listen_ready();
        expire();
    });
}

TriggerListener::~TriggerListener() {
    // The notifiers go before the descriptors they watch are closed.
    server_->watch = nullptr;
    delete listening_;
    for (const auto& [fd, notifier] : callers_) delete notifier;
    callers_.clear();
    server_.reset();
}

void TriggerListener::watch(int fd, bool on) {
    if (on) {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, fd] {
            // A request may run from here and keep the event loop turning
            // for as long as its dialog is open.
            server_->on_client_ready(fd);
            expire();
        });
        callers_[fd] = notifier;
        return;
    }
    const auto it = callers_.find(fd);
    if (it == callers_.end()) return;
    // Possibly from inside its own signal: switched off now, freed later.
    it->second->setEnabled(false);
    it->second->deleteLater();
    callers_.erase(it);
}

void TriggerListener::expire() {
    if (const auto next = server_->expire()) {
        quiet_->start(static_cast<int>(next->count()) + 1);
    } else {
        quiet_->stop();
    }
}

ActivationToken::ActivationToken(const std::string& token) {
    if (token.empty()) return;
    qputenv(kTokenVariable, QByteArray::fromStdString(token));
    set_ = true;
}

ActivationToken::~ActivationToken() {
    if (set_) qunsetenv(kTokenVariable);
}

}  // namespace morvantile::shell
