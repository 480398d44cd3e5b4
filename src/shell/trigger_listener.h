// Command-line requests ("morvantile encrypt") on the desktop program's side:
// the caller's hand-over before anything else starts, the running copy's
// listener on the event loop, and the desktop's activation token for the
// request's dialog.
#pragma once

#include <QObject>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "automation/trigger.h"

class QSocketNotifier;
class QTimer;

namespace morvantile::shell {

// With a request word among `params`: hands it to the running copy and
// gives the exit status, its messages already on standard error. nullopt
// without a word, or when no copy runs (this process then starts as the
// program and carries the request out itself).
std::optional<int> hand_over_trigger(const std::vector<std::string>& params);

// The trigger server on the GUI thread's event loop: a notifier for the
// listening socket and one for each caller, and a timer for the callers that
// keep quiet.
class TriggerListener final : public QObject {
public:
    // nullptr with `error` when it cannot listen at `path`.
    static std::unique_ptr<TriggerListener> listen(const std::string& path, TriggerHandler& handler,
                                                   std::string& error, TriggerServerOptions options = {});
    ~TriggerListener() override;
    const std::string& path() const { return server_->path(); }

private:
    explicit TriggerListener(std::unique_ptr<TriggerServer> server);
    void watch(int fd, bool on);
    void expire();

    std::unique_ptr<TriggerServer> server_;
    QSocketNotifier* listening_ = nullptr;
    std::map<int, QSocketNotifier*> callers_;
    QTimer* quiet_ = nullptr;
};

// While a request runs, its activation token waits where Qt's Wayland
// platform takes it when a window of the program is activated, so that the
// request's dialog gets the keyboard focus (the desktop grants it for the
// key press that started the request). Qt uses a token once; whatever is
// left is cleared at the end.
class ActivationToken {
public:
    explicit ActivationToken(const std::string& token);
    ~ActivationToken();
    ActivationToken(const ActivationToken&) = delete;
    ActivationToken& operator=(const ActivationToken&) = delete;

private:
    bool set_ = false;
};

}  // namespace morvantile::shell
