#include "platform/wayland/wayland_desktop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPointer>
#include <QProcess>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <thread>
#include <type_traits>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>

#include "automation/desktop_helpers.h"
#include "platform/qt_desktop.h"
#include "cipher/wipe.h"
#include "ext-data-control-v1-client-protocol.h"
#include "platform/wayland/clipboard_formats.h"
#include "platform/wayland/keymap.h"
#include "platform/wayland/toplevels.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace morvantile::platform {

namespace {

// How long a clipboard transfer from or to another program may take.
constexpr int kTransferTimeoutMs = 2000;
// What window_title() says for the stand-in of the focused window, so that
// the automation takes it as a captioned window of another program.
constexpr std::string_view kFocusedWindowTitle = "(focused window)";
// Every selection of ours carries this type too, so that its echo from the
// compositor is told apart from another program's selection at once.
constexpr char kOwnSelectionMime[] = "application/x-morvantile-selection";

std::string display_name() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    return name && *name ? std::string(name) : std::string("wayland-0");
}

std::uint32_t now_ms() { return static_cast<std::uint32_t>(monotonic_ms()); }

int remaining_ms(std::uint64_t deadline) {
    const std::uint64_t now = monotonic_ms();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

// Writes everything or gives up at the deadline. A reader that has gone
// away must not end this program with SIGPIPE: the signal is held back on
// this thread while writing and a pending one is taken off again.
bool write_all(int fd, std::string_view bytes, std::uint64_t deadline) {
    sigset_t pipe_only, previous;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, &previous);
    bool ok = true;
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            const int left = remaining_ms(deadline);
            if (left > 0 && poll(&p, 1, left) > 0) continue;
        }
        ok = false;
        break;
    }
    if (!ok) {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE)) {
            const timespec zero{0, 0};
            sigtimedwait(&pipe_only, nullptr, &zero);
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
}


// ---------------------------------------------------------------------------
// The two data-control protocols are the same protocol under two names; the
// rest of this file works on plain proxies and these few calls.

struct DataControl {
    bool ext = false;
    wl_proxy* manager = nullptr;
    wl_proxy* device = nullptr;

    wl_proxy* create_source() const {
        return ext ? reinterpret_cast<wl_proxy*>(ext_data_control_manager_v1_create_data_source(
                         reinterpret_cast<ext_data_control_manager_v1*>(manager)))
                   : reinterpret_cast<wl_proxy*>(zwlr_data_control_manager_v1_create_data_source(
                         reinterpret_cast<zwlr_data_control_manager_v1*>(manager)));
    }
    void offer(wl_proxy* source, const char* mime) const {
        if (ext) ext_data_control_source_v1_offer(reinterpret_cast<ext_data_control_source_v1*>(source), mime);
        else zwlr_data_control_source_v1_offer(reinterpret_cast<zwlr_data_control_source_v1*>(source), mime);
    }
    void destroy_source(wl_proxy* source) const {
        if (ext) ext_data_control_source_v1_destroy(reinterpret_cast<ext_data_control_source_v1*>(source));
        else zwlr_data_control_source_v1_destroy(reinterpret_cast<zwlr_data_control_source_v1*>(source));
    }
    void set_selection(wl_proxy* source) const {
        if (ext)
            ext_data_control_device_v1_set_selection(reinterpret_cast<ext_data_control_device_v1*>(device),
                                                     reinterpret_cast<ext_data_control_source_v1*>(source));
        else
            zwlr_data_control_device_v1_set_selection(reinterpret_cast<zwlr_data_control_device_v1*>(device),
                                                      reinterpret_cast<zwlr_data_control_source_v1*>(source));
    }
    void receive(wl_proxy* offer, const char* mime, int fd) const {
        if (ext) ext_data_control_offer_v1_receive(reinterpret_cast<ext_data_control_offer_v1*>(offer), mime, fd);
        else zwlr_data_control_offer_v1_receive(reinterpret_cast<zwlr_data_control_offer_v1*>(offer), mime, fd);
    }
    void destroy_offer(wl_proxy* offer) const {
        if (ext) ext_data_control_offer_v1_destroy(reinterpret_cast<ext_data_control_offer_v1*>(offer));
        else zwlr_data_control_offer_v1_destroy(reinterpret_cast<zwlr_data_control_offer_v1*>(offer));
    }
    void destroy_device() {
        if (!device) return;
        if (ext) ext_data_control_device_v1_destroy(reinterpret_cast<ext_data_control_device_v1*>(device));
        else zwlr_data_control_device_v1_destroy(reinterpret_cast<zwlr_data_control_device_v1*>(device));
        device = nullptr;
    }
    void destroy_manager() {
        if (!manager) return;
        if (ext) ext_data_control_manager_v1_destroy(reinterpret_cast<ext_data_control_manager_v1*>(manager));
        else zwlr_data_control_manager_v1_destroy(reinterpret_cast<zwlr_data_control_manager_v1*>(manager));
        manager = nullptr;
    }
};

// ---------------------------------------------------------------------------
// Globals, for the probe and for the connection itself.

struct Globals {
    WaylandProtocols protocols;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    std::uint32_t seat_version = 0;
    zwp_virtual_keyboard_manager_v1* keyboard_manager = nullptr;
    wl_proxy* wlr_data_control = nullptr;
    wl_proxy* ext_data_control = nullptr;
    zwlr_foreign_toplevel_manager_v1* toplevel_manager = nullptr;
    std::uint32_t toplevel_version = 0;
    bool bind = false;  // the probe only lists
    // Called as soon as the window list is bound: the compositor sends the
    // windows that exist right away, and events that arrive before a
    // listener is set are lost.
    void (*listen_to_toplevels)(void* owner, zwlr_foreign_toplevel_manager_v1* manager) = nullptr;
    void* owner = nullptr;
};

void on_global(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version) {
    auto& g = *static_cast<Globals*>(data);
    const std::string_view iface(interface);
    g.protocols.globals.push_back(std::string(iface) + " v" + std::to_string(version));
    if (iface == wl_seat_interface.name) {
        // The first seat is the user's; a second one (rare) is left alone.
        if (g.protocols.seat) return;
        g.protocols.seat = true;
        if (g.bind) {
            g.seat_version = std::min<std::uint32_t>(version, 5);
            g.seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, g.seat_version));
        }
    } else if (iface == zwp_virtual_keyboard_manager_v1_interface.name) {
        g.protocols.virtual_keyboard = true;
        if (g.bind)
            g.keyboard_manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    } else if (iface == zwlr_data_control_manager_v1_interface.name) {
        g.protocols.wlr_data_control = true;
        if (g.bind)
            g.wlr_data_control = static_cast<wl_proxy*>(
                wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
    } else if (iface == ext_data_control_manager_v1_interface.name) {
        g.protocols.ext_data_control = true;
        if (g.bind)
            g.ext_data_control =
                static_cast<wl_proxy*>(wl_registry_bind(registry, name, &ext_data_control_manager_v1_interface, 1));
    } else if (iface == zwlr_foreign_toplevel_manager_v1_interface.name) {
        g.protocols.foreign_toplevel = true;
        if (g.bind) {
            g.toplevel_version = std::min<std::uint32_t>(version, 3);
            g.toplevel_manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
                wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface, g.toplevel_version));
            if (g.listen_to_toplevels) g.listen_to_toplevels(g.owner, g.toplevel_manager);
        }
    }
}

void on_global_remove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener = {on_global, on_global_remove};

}  // namespace

WaylandProtocols probe_wayland() {
    Globals g;
    g.protocols.display = display_name();
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return g.protocols;
    g.registry = wl_display_get_registry(display);
    wl_registry_add_listener(g.registry, &kRegistryListener, &g);
    g.protocols.connected = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(g.registry);
    wl_display_disconnect(display);
    return g.protocols;
}

// ---------------------------------------------------------------------------

struct WaylandDesktop::State {
    wl_display* display = nullptr;
    Globals globals;
    DataControl data;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    std::unique_ptr<KeyboardMap> keymap;
    ModifierMasks sent_modifiers;
    bool seat_has_keyboard = false;
    std::string seat_keymap;

    ToplevelTable toplevels;
    std::map<WindowId, zwlr_foreign_toplevel_handle_v1*> handles;
    bool toplevels_finished = false;

    // Offers announced by the compositor with their MIME types, until a
    // selection event names one or they are replaced.
    std::map<wl_proxy*, std::vector<std::string>> offers;
    wl_proxy* selection = nullptr;  // the current selection's offer, when another program's
    std::vector<std::string> selection_mimes;
    bool held = false;

    // Our selections are served on a thread of their own: a program that
    // reads the clipboard blocking its thread, as Qt does in this very
    // process, would otherwise wait for a GUI thread that waits for it.
    // Only that thread destroys sources, when the compositor cancels them.
    std::mutex sources_mutex;
    std::map<wl_proxy*, std::map<std::string, std::string>> sources;  // MIME type → bytes
    wl_proxy* source = nullptr;  // the newest, until cancelled
    wl_event_queue* serve_queue = nullptr;
    std::thread server;
    int stop_server = -1;  // eventfd
    // The serving thread may read events meant for the GUI thread off the
    // socket, which then has nothing left to wake the GUI thread's notifier:
    // it asks the GUI thread to take them in.
    std::function<void()> wake_gui;
    std::atomic<bool> wake_posted{false};

    QSocketNotifier* notifier = nullptr;
    QMetaObject::Connection about_to_block;
    bool reading = false;
    bool broken = false;

    bool tracks_windows() const { return globals.toplevel_manager != nullptr && !toplevels_finished; }

    // Takes in whatever the compositor has sent and runs the handlers;
    // never blocks.
    void pump() {
        wake_posted = false;
        if (broken || reading) return;
        reading = true;
        while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
        wl_display_flush(display);
        pollfd p{wl_display_get_fd(display), POLLIN, 0};
        if (poll(&p, 1, 0) > 0) wl_display_read_events(display);
        else wl_display_cancel_read(display);
        wl_display_dispatch_pending(display);
        wl_display_flush(display);
        if (wl_display_get_error(display) != 0) broken = true;
        reading = false;
    }

    bool own_selection() {
        std::lock_guard lock(sources_mutex);
        return source != nullptr;
    }

    std::vector<std::string> own_mimes() {
        std::lock_guard lock(sources_mutex);
        std::vector<std::string> mimes;
        if (const auto it = sources.find(source); it != sources.end())
            for (const auto& [mime, bytes] : it->second) mimes.push_back(mime);
        return mimes;
    }

    std::optional<std::string> own_bytes(wl_proxy* from, const std::string& mime) {
        std::lock_guard lock(sources_mutex);
        const auto it = sources.find(from ? from : source);
        if (it == sources.end()) return std::nullopt;
        const auto bytes = it->second.find(mime);
        if (bytes == it->second.end()) return std::nullopt;
        return bytes->second;
    }

    // Called on the serving thread.
    void cancel_source(wl_proxy* cancelled) {
        {
            std::lock_guard lock(sources_mutex);
            if (const auto it = sources.find(cancelled); it != sources.end()) {
                for (auto& [mime, bytes] : it->second) wipe_string(bytes);
                sources.erase(it);
            }
            if (source == cancelled) source = nullptr;
        }
        data.destroy_source(cancelled);
    }

    void serve() {
        const int fd = wl_display_get_fd(display);
        for (;;) {
            while (wl_display_prepare_read_queue(display, serve_queue) != 0)
                wl_display_dispatch_queue_pending(display, serve_queue);
            wl_display_flush(display);
            pollfd p[2] = {{fd, POLLIN, 0}, {stop_server, POLLIN, 0}};
            const int ready = poll(p, 2, -1);
            if (ready < 0 && errno == EINTR) {
                wl_display_cancel_read(display);
                continue;
            }
            if (ready < 0 || (p[1].revents & POLLIN)) {
                wl_display_cancel_read(display);
                return;
            }
            if (p[0].revents & POLLIN) {
                if (wl_display_read_events(display) != 0) return;
                if (wake_gui && !wake_posted.exchange(true)) wake_gui();
            } else {
                wl_display_cancel_read(display);
                if (p[0].revents & (POLLHUP | POLLERR)) return;
            }
            if (wl_display_dispatch_queue_pending(display, serve_queue) < 0) return;
        }
    }

    void stop_serving() {
        if (server.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = write(stop_server, &one, sizeof one);
            server.join();
        }
        if (stop_server >= 0) ::close(stop_server);
        stop_server = -1;
        std::lock_guard lock(sources_mutex);
        for (auto& [proxy, served] : sources) {
            for (auto& [mime, bytes] : served) wipe_string(bytes);
            data.destroy_source(proxy);
        }
        sources.clear();
        source = nullptr;
    }

    void drop_selection() {
        if (selection) data.destroy_offer(selection);
        selection = nullptr;
        selection_mimes.clear();
    }

    // Reads one MIME type of the current selection through a pipe; nullopt
    // when it did not come in time. The GUI thread's events go on meanwhile:
    // the selection may be a window of this very program (the viewer's
    // copy), whose data Qt serves from its own connection.
    std::optional<std::string> receive(const std::string& mime) {
        if (!selection) return std::nullopt;
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return std::nullopt;
        data.receive(selection, mime.c_str(), fds[1]);
        wl_display_flush(display);
        // The request carries a copy of the descriptor; ours must go, or the
        // end of the data would never be seen.
        ::close(fds[1]);
        std::string bytes;
        enum class Transfer { Running, Complete, Failed } transfer = Transfer::Running;
        char buffer[16384];
        const auto drain = [&] {
            for (;;) {
                const ssize_t n = read(fds[0], buffer, sizeof buffer);
                if (n > 0) {
                    bytes.append(buffer, static_cast<std::size_t>(n));
                    continue;
                }
                if (n == 0) transfer = Transfer::Complete;
                else if (errno == EINTR) continue;
                else if (errno != EAGAIN) transfer = Transfer::Failed;
                return;
            }
        };
        drain();
        if (transfer == Transfer::Running && notifier) {
            QEventLoop loop;
            QSocketNotifier readable(fds[0], QSocketNotifier::Read);
            QObject::connect(&readable, &QSocketNotifier::activated, &loop, [&] {
                drain();
                if (transfer != Transfer::Running) loop.quit();
            });
            QTimer::singleShot(kTransferTimeoutMs, &loop, &QEventLoop::quit);
            loop.exec();
        }
        // Without an event loop: our own connection alone.
        const std::uint64_t deadline = monotonic_ms() + kTransferTimeoutMs;
        while (transfer == Transfer::Running && !notifier) {
            pollfd p[2] = {{fds[0], POLLIN, 0}, {wl_display_get_fd(display), POLLIN, 0}};
            const int left = remaining_ms(deadline);
            if (left == 0) break;
            const int ready = poll(p, 2, left);
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) break;
            if (p[1].revents & POLLIN) pump();
            if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) drain();
        }
        secure_zero(buffer, sizeof buffer);
        ::close(fds[0]);
        if (transfer != Transfer::Complete) {
            wipe_string(bytes);
            return std::nullopt;
        }
        return bytes;
    }

    // -- virtual keyboard --------------------------------------------------

    void send_keymap() {
        const std::string text = keymap->text();
        const int fd = memfd_create("morvantile-keymap", MFD_CLOEXEC);
        if (fd < 0) return;
        if (write_all(fd, text, monotonic_ms() + kTransferTimeoutMs))
            zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                           static_cast<std::uint32_t>(text.size()));
        ::close(fd);
    }

    void send_key(unsigned key, bool down) {
        zwp_virtual_keyboard_v1_key(keyboard, now_ms(), key - 8,
                                    down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        // Like a real keyboard: the key, then the modifiers it changed, so
        // that Ctrl held by this keyboard reaches the program as Ctrl.
        const ModifierMasks masks = keymap->update(key, down);
        if (masks != sent_modifiers) {
            zwp_virtual_keyboard_v1_modifiers(keyboard, masks.depressed, masks.latched, masks.locked, masks.group);
            sent_modifiers = masks;
        }
        wl_display_flush(display);
    }
};

namespace {

using State = WaylandDesktop::State;

State& state_of(void* data) { return *static_cast<State*>(data); }

// -- seat and its keyboard --------------------------------------------------

void on_seat_capabilities(void* data, wl_seat*, std::uint32_t capabilities) {
    state_of(data).seat_has_keyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
}
void on_seat_name(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {on_seat_capabilities, on_seat_name};

void on_keymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size) {
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            state_of(data).seat_keymap.assign(static_cast<const char*>(map), size);
            munmap(map, size);
        }
    }
    ::close(fd);
}
void on_enter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
void on_leave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void on_key(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void on_modifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void on_repeat_info(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
const wl_keyboard_listener kKeyboardListener = {on_keymap, on_enter, on_leave, on_key, on_modifiers, on_repeat_info};

// -- data control -----------------------------------------------------------

template <class Offer>
void on_offer_mime(void* data, Offer* offer, const char* mime) {
    State& s = state_of(data);
    const auto it = s.offers.find(reinterpret_cast<wl_proxy*>(offer));
    if (it != s.offers.end()) it->second.emplace_back(mime);
}
const zwlr_data_control_offer_v1_listener kWlrOfferListener = {on_offer_mime};
const ext_data_control_offer_v1_listener kExtOfferListener = {on_offer_mime};

template <class Device, class Offer>
void on_data_offer(void* data, Device*, Offer* offer) {
    State& s = state_of(data);
    s.offers[reinterpret_cast<wl_proxy*>(offer)];
    if constexpr (std::is_same_v<Offer, ext_data_control_offer_v1>)
        ext_data_control_offer_v1_add_listener(offer, &kExtOfferListener, data);
    else
        zwlr_data_control_offer_v1_add_listener(offer, &kWlrOfferListener, data);
}

template <class Device, class Offer>
void on_selection(void* data, Device*, Offer* offer) {
    State& s = state_of(data);
    s.drop_selection();
    if (!offer) return;
    const auto proxy = reinterpret_cast<wl_proxy*>(offer);
    const auto it = s.offers.find(proxy);
    std::vector<std::string> mimes;
    if (it != s.offers.end()) {
        mimes = std::move(it->second);
        s.offers.erase(it);
    }
    // Our own selection coming back: its data is at hand already.
    if (std::find(mimes.begin(), mimes.end(), kOwnSelectionMime) != mimes.end()) {
        s.data.destroy_offer(proxy);
        return;
    }
    s.selection = proxy;
    s.selection_mimes = std::move(mimes);
}

template <class Device, class Offer>
void on_primary_selection(void* data, Device*, Offer* offer) {
    // The primary selection is not the clipboard; its offer is not kept.
    if (!offer) return;
    State& s = state_of(data);
    const auto proxy = reinterpret_cast<wl_proxy*>(offer);
    s.offers.erase(proxy);
    s.data.destroy_offer(proxy);
}

template <class Device>
void on_device_finished(void* data, Device*) {
    State& s = state_of(data);
    s.drop_selection();
    {
        std::lock_guard lock(s.sources_mutex);
        s.source = nullptr;
    }
    s.data.destroy_device();
}

const zwlr_data_control_device_v1_listener kWlrDeviceListener = {on_data_offer, on_selection, on_device_finished,
                                                                 on_primary_selection};
const ext_data_control_device_v1_listener kExtDeviceListener = {on_data_offer, on_selection, on_device_finished,
                                                                on_primary_selection};

// These two run on the serving thread.
template <class Source>
void on_source_send(void* data, Source* source, const char* mime, std::int32_t fd) {
    State& s = state_of(data);
    if (auto bytes = s.own_bytes(reinterpret_cast<wl_proxy*>(source), mime)) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        write_all(fd, *bytes, monotonic_ms() + kTransferTimeoutMs);
        wipe_string(*bytes);
    }
    ::close(fd);
}

template <class Source>
void on_source_cancelled(void* data, Source* source) {
    // Replaced by another selection, ours or another program's.
    state_of(data).cancel_source(reinterpret_cast<wl_proxy*>(source));
}

const zwlr_data_control_source_v1_listener kWlrSourceListener = {on_source_send, on_source_cancelled};
const ext_data_control_source_v1_listener kExtSourceListener = {on_source_send, on_source_cancelled};

// -- foreign toplevels ------------------------------------------------------

WindowId window_of(State& s, zwlr_foreign_toplevel_handle_v1* handle) {
    for (const auto& [id, h] : s.handles)
        if (h == handle) return id;
    return 0;
}

void on_title(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* title) {
    State& s = state_of(data);
    s.toplevels.set_title(window_of(s, handle), title);
}
void on_app_id(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* app_id) {
    State& s = state_of(data);
    s.toplevels.set_app_id(window_of(s, handle), app_id);
}
void on_output_enter(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void on_output_leave(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void on_state(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states) {
    State& s = state_of(data);
    bool activated = false, minimized = false;
    const auto* entries = static_cast<const std::uint32_t*>(states->data);
    for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
        if (entries[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) activated = true;
        if (entries[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED) minimized = true;
    }
    s.toplevels.set_state(window_of(s, handle), activated, minimized);
}
void on_done(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    State& s = state_of(data);
    s.toplevels.done(window_of(s, handle));
}
void on_closed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    State& s = state_of(data);
    const WindowId id = window_of(s, handle);
    s.toplevels.closed(id);
    s.handles.erase(id);
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
}
void on_parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
const zwlr_foreign_toplevel_handle_v1_listener kToplevelListener = {
    on_title, on_app_id, on_output_enter, on_output_leave, on_state, on_done, on_closed, on_parent};

void on_toplevel(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
    State& s = state_of(data);
    const WindowId id = s.toplevels.add();
    s.handles.emplace(id, handle);
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kToplevelListener, data);
}
void on_toplevels_finished(void* data, zwlr_foreign_toplevel_manager_v1* manager) {
    State& s = state_of(data);
    s.toplevels_finished = true;
    zwlr_foreign_toplevel_manager_v1_destroy(manager);
    s.globals.toplevel_manager = nullptr;
}
const zwlr_foreign_toplevel_manager_v1_listener kToplevelManagerListener = {on_toplevel, on_toplevels_finished};

}  // namespace

// ---------------------------------------------------------------------------

std::unique_ptr<WaylandDesktop> WaylandDesktop::open() {
    auto state = std::make_unique<State>();
    State& s = *state;
    s.globals.bind = true;
    s.globals.protocols.display = display_name();
    s.display = wl_display_connect(nullptr);
    if (!s.display) return nullptr;
    // From here on the destructor cleans up whatever was made.
    std::unique_ptr<WaylandDesktop> desktop(new WaylandDesktop(std::move(state)));
    State& st = *desktop->state_;
    Globals& g = st.globals;
    g.owner = &st;
    g.listen_to_toplevels = [](void* owner, zwlr_foreign_toplevel_manager_v1* manager) {
        zwlr_foreign_toplevel_manager_v1_add_listener(manager, &kToplevelManagerListener, owner);
    };
    g.registry = wl_display_get_registry(st.display);
    wl_registry_add_listener(g.registry, &kRegistryListener, &g);
    if (wl_display_roundtrip(st.display) < 0) return nullptr;
    g.protocols.connected = true;
    if (!g.seat || !g.keyboard_manager) return nullptr;

    // The seat's own keymap, when it has a keyboard: a virtual keyboard with
    // another keymap would make the compositor hand every program a new
    // keymap each time the user's keyboard and ours take turns.
    wl_seat_add_listener(g.seat, &kSeatListener, &st);
    wl_display_roundtrip(st.display);
    if (st.seat_has_keyboard) {
        wl_keyboard* seat_keyboard = wl_seat_get_keyboard(g.seat);
        wl_keyboard_add_listener(seat_keyboard, &kKeyboardListener, &st);
        wl_display_roundtrip(st.display);
        if (g.seat_version >= WL_KEYBOARD_RELEASE_SINCE_VERSION) wl_keyboard_release(seat_keyboard);
        else wl_keyboard_destroy(seat_keyboard);
        if (!st.seat_keymap.empty()) st.keymap = KeyboardMap::from_text(st.seat_keymap);
        wipe_string(st.seat_keymap);
    }
    // Otherwise a complete keyboard: programs ignore shortcuts from a keymap
    // that only names a few letters.
    if (!st.keymap) st.keymap = KeyboardMap::default_keymap();
    if (!st.keymap) return nullptr;
    st.keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(g.keyboard_manager, g.seat);
    st.send_keymap();
    // The compositor must have the keymap before the first key, or that key
    // is lost.
    if (wl_display_roundtrip(st.display) < 0) return nullptr;

    // The newer name of the clipboard protocol where both are offered.
    if (g.ext_data_control) {
        st.data.ext = true;
        st.data.manager = g.ext_data_control;
        g.ext_data_control = nullptr;
        auto* device = ext_data_control_manager_v1_get_data_device(
            reinterpret_cast<ext_data_control_manager_v1*>(st.data.manager), g.seat);
        ext_data_control_device_v1_add_listener(device, &kExtDeviceListener, &st);
        st.data.device = reinterpret_cast<wl_proxy*>(device);
    } else if (g.wlr_data_control) {
        st.data.manager = g.wlr_data_control;
        g.wlr_data_control = nullptr;
        auto* device = zwlr_data_control_manager_v1_get_data_device(
            reinterpret_cast<zwlr_data_control_manager_v1*>(st.data.manager), g.seat);
        zwlr_data_control_device_v1_add_listener(device, &kWlrDeviceListener, &st);
        st.data.device = reinterpret_cast<wl_proxy*>(device);
    }
    // The window list and the clipboard as they are now, then their details.
    wl_display_roundtrip(st.display);
    if (wl_display_roundtrip(st.display) < 0) return nullptr;
    if (st.data.device) {
        st.serve_queue = wl_display_create_queue(st.display);
        st.stop_server = eventfd(0, EFD_CLOEXEC);
        if (!st.serve_queue || st.stop_server < 0) return nullptr;
        if (QCoreApplication::instance()) {
            QPointer<WaylandDesktop> target(desktop.get());
            st.wake_gui = [target] {
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [target] { if (target) target->read_events(); },
                    Qt::QueuedConnection);
            };
        }
        st.server = std::thread([&st] { st.serve(); });
    }

    if (QCoreApplication::instance()) {
        st.notifier = new QSocketNotifier(wl_display_get_fd(st.display), QSocketNotifier::Read, desktop.get());
        connect(st.notifier, &QSocketNotifier::activated, desktop.get(), [d = desktop.get()] { d->read_events(); });
        // Requests made between events leave before the GUI thread sleeps.
        if (auto* dispatcher = QAbstractEventDispatcher::instance())
            st.about_to_block = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, desktop.get(),
                                        [d = desktop.get()] {
                                            if (!d->state_->broken) wl_display_flush(d->state_->display);
                                        });
    }
    return desktop;
}

WaylandDesktop::WaylandDesktop(std::unique_ptr<State> state) : state_(std::move(state)) {}

WaylandDesktop::~WaylandDesktop() {
    State& s = *state_;
    disconnect(s.about_to_block);
    delete s.notifier;
    s.notifier = nullptr;
    if (s.keyboard) {
        // Keys of ours left down would stay down in the focused program.
        for (unsigned key = 8; key <= 255; ++key)
            if (s.keymap && s.keymap->is_down(key)) s.send_key(key, false);
        zwp_virtual_keyboard_v1_destroy(s.keyboard);
    }
    s.stop_serving();
    if (s.serve_queue) wl_event_queue_destroy(s.serve_queue);
    s.drop_selection();
    for (auto& [offer, mimes] : s.offers) s.data.destroy_offer(offer);
    s.offers.clear();
    s.data.destroy_device();
    s.data.destroy_manager();
    for (auto& [id, handle] : s.handles) zwlr_foreign_toplevel_handle_v1_destroy(handle);
    s.handles.clear();
    Globals& g = s.globals;
    if (g.toplevel_manager) zwlr_foreign_toplevel_manager_v1_destroy(g.toplevel_manager);
    if (g.wlr_data_control) zwlr_data_control_manager_v1_destroy(reinterpret_cast<zwlr_data_control_manager_v1*>(g.wlr_data_control));
    if (g.ext_data_control) ext_data_control_manager_v1_destroy(reinterpret_cast<ext_data_control_manager_v1*>(g.ext_data_control));
    if (g.keyboard_manager) zwp_virtual_keyboard_manager_v1_destroy(g.keyboard_manager);
    if (g.seat) {
        if (g.seat_version >= WL_SEAT_RELEASE_SINCE_VERSION) wl_seat_release(g.seat);
        else wl_seat_destroy(g.seat);
    }
    if (g.registry) wl_registry_destroy(g.registry);
    if (s.display) {
        wl_display_flush(s.display);
        wl_display_disconnect(s.display);
    }
}

void WaylandDesktop::read_events() { state_->pump(); }

const WaylandProtocols& WaylandDesktop::protocols() const { return state_->globals.protocols; }
bool WaylandDesktop::tracks_windows() const { return state_->tracks_windows(); }
bool WaylandDesktop::has_clipboard() const { return state_->data.device != nullptr; }

std::string WaylandDesktop::window_app_id(WindowId window) {
    const Toplevel* t = state_->toplevels.find(window);
    return t ? t->app_id : std::string();
}

// ---------------------------------------------------------------------------
// WindowSystem: windows

WindowId WaylandDesktop::foreground_window() {
    State& s = *state_;
    s.pump();
    if (!s.tracks_windows()) {
        if (s.broken) return 0;
        return our_window_has_focus() ? kOwnFocusedWindow : kFocusedWindow;
    }
    return s.toplevels.active();
}

std::string WaylandDesktop::window_title(WindowId window) {
    State& s = *state_;
    if ((window == kFocusedWindow || window == kOwnFocusedWindow) && !s.tracks_windows())
        return std::string(kFocusedWindowTitle);
    const Toplevel* t = s.toplevels.find(window);
    return t ? t->title : std::string();
}

void WaylandDesktop::set_window_title(WindowId, std::string_view) {
    // A window's title is its own program's to set; the compositor offers
    // no way to change it from outside.
}

bool WaylandDesktop::is_window(WindowId window) {
    State& s = *state_;
    s.pump();
    if ((window == kFocusedWindow || window == kOwnFocusedWindow) && !s.tracks_windows()) return !s.broken;
    return s.toplevels.find(window) != nullptr;
}

bool WaylandDesktop::own_window(WindowId window) {
    State& s = *state_;
    if (!s.tracks_windows()) {
        if (window == kOwnFocusedWindow) return true;
        if (window == kFocusedWindow) return our_window_has_focus();
    }
    const Toplevel* t = s.toplevels.find(window);
    return t && own_app(*t);
}

bool WaylandDesktop::desktop_part(WindowId) {
    // Panels, docks, notifications and the desktop are layer surfaces, never
    // in the toplevel list.
    return false;
}

void WaylandDesktop::activate(WindowId window) {
    State& s = *state_;
    const auto it = s.handles.find(window);
    if (it == s.handles.end() || s.broken) return;
    zwlr_foreign_toplevel_handle_v1_activate(it->second, s.globals.seat);
    wl_display_flush(s.display);
}

void WaylandDesktop::restore(WindowId window) {
    State& s = *state_;
    const Toplevel* t = s.toplevels.find(window);
    const auto it = s.handles.find(window);
    if (!t || !t->minimized || it == s.handles.end() || s.broken) return;
    zwlr_foreign_toplevel_handle_v1_unset_minimized(it->second);
    wl_display_flush(s.display);
}

std::vector<WindowId> WaylandDesktop::client_windows() {
    state_->pump();
    return state_->toplevels.windows();
}

std::int64_t WaylandDesktop::window_process(WindowId) {
    // The compositor does not say which process a window belongs to.
    return 0;
}

std::string WaylandDesktop::process_program_file(std::int64_t pid) { return process_program_file_of(pid); }

std::string WaylandDesktop::find_program(std::string_view name) { return resolve_program(name); }

std::int64_t WaylandDesktop::start_process(const std::vector<std::string>& argv) {
    return start_detached(argv);
}

// ---------------------------------------------------------------------------
// WindowSystem: keyboard

KeyStroke WaylandDesktop::key_for_vk(std::uint8_t vk) { return state_->keymap->key_for_vk(vk); }

KeyStroke WaylandDesktop::key_for_char(char c) { return state_->keymap->key_for_char(c); }

void WaylandDesktop::key_event(unsigned key, bool down) {
    State& s = *state_;
    if (key < 8 || key > 255 || s.broken) return;
    // A release of a key this keyboard never pressed (the keystroke strings
    // begin by releasing every modifier) means nothing to the program.
    if (s.keymap->is_down(key) == down) return;
    s.send_key(key, down);
}

bool WaylandDesktop::modifiers_held() {
    // The virtual keyboard carries its own modifier state to the focused
    // program: what the user still holds on the real keyboard does not mix
    // with it. Nor could this program see that state without the focus.
    return false;
}

bool WaylandDesktop::clipboard_taken() {
    State& s = *state_;
    s.pump();
    return s.selection != nullptr || !s.own_selection();
}

std::uint64_t WaylandDesktop::tick_ms() { return monotonic_ms(); }

void WaylandDesktop::wait(int ms) {
    read_events();
    // The socket notifier reads our events while the event loop runs.
    run_events_for(ms);
    read_events();
}

// ---------------------------------------------------------------------------
// ClipboardAccess

ClipboardAccess& WaylandDesktop::clipboard() { return clipboard_; }

void WaylandClipboard::open() {
    State& s = *desktop_.state_;
    if (s.held || !s.data.device || s.broken) throw EClipboardError();
    s.held = true;
    s.pump();
}

void WaylandClipboard::close() { desktop_.state_->held = false; }

std::vector<std::string> WaylandClipboard::formats() {
    State& s = *desktop_.state_;
    s.pump();
    // Another program's selection is the newer one while the compositor's
    // word that ours is gone is still on its way to the serving thread.
    return program_formats(s.selection ? s.selection_mimes : s.own_mimes());
}

std::optional<std::string> WaylandClipboard::get(std::string_view format) {
    State& s = *desktop_.state_;
    s.pump();
    std::optional<std::string> bytes;
    std::optional<std::string> mime;
    if (s.selection) {
        mime = mime_to_read(format, s.selection_mimes);
        if (mime) {
            bytes = s.receive(*mime);
            if (!bytes) throw EClipboardError();
        }
    } else {
        mime = mime_to_read(format, s.own_mimes());
        if (mime) bytes = s.own_bytes(nullptr, *mime);
    }
    if (!bytes || format != kPlainTextFormat) return bytes;
    return program_text(*bytes, *mime);
}

void WaylandClipboard::set(std::string_view format, std::string_view bytes, bool secret) {
    State& s = *desktop_.state_;
    if (!s.data.device || s.broken) throw EClipboardError();
    wl_proxy* source = s.data.create_source();
    if (!source) throw EClipboardError();
    // Before the compositor can say anything to it.
    wl_proxy_set_queue(source, s.serve_queue);
    if (s.data.ext)
        ext_data_control_source_v1_add_listener(reinterpret_cast<ext_data_control_source_v1*>(source),
                                                &kExtSourceListener, &s);
    else
        zwlr_data_control_source_v1_add_listener(reinterpret_cast<zwlr_data_control_source_v1*>(source),
                                                 &kWlrSourceListener, &s);
    std::map<std::string, std::string> served;
    std::string payload = format == kPlainTextFormat ? lf_line_ends(bytes) : std::string(bytes);
    for (const std::string& mime : mimes_to_offer(format)) {
        s.data.offer(source, mime.c_str());
        served[mime] = payload;
    }
    wipe_string(payload);
    if (secret) {
        s.data.offer(source, kSecretHintFormat);
        served[kSecretHintFormat] = "secret";
    }
    s.data.offer(source, kOwnSelectionMime);
    served[kOwnSelectionMime] = std::string();
    s.drop_selection();
    {
        std::lock_guard lock(s.sources_mutex);
        s.sources.emplace(source, std::move(served));
        s.source = source;
    }
    // The new selection replaces the old one in one step; the compositor
    // cancels the old source then, and the serving thread lets it go.
    s.data.set_selection(source);
    // Whatever selection event was on its way before this one is taken in
    // now, so that it is not mistaken for a newer one afterwards.
    if (wl_display_roundtrip(s.display) < 0) s.broken = true;
}

}  // namespace morvantile::platform
