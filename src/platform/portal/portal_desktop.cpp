#include "platform/portal/portal_desktop.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QWindow>
#include <QProcess>
#include <QStringList>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "automation/desktop_helpers.h"
#include "platform/qt_desktop.h"
#include "cipher/wipe.h"
#include "platform/portal/portal_shortcuts.h"
#include "platform/wayland/clipboard_formats.h"
#include "platform/wayland/wayland_desktop.h"

namespace morvantile::platform {

namespace {

// The desktop may ask the user first; a person takes a while to decide.
constexpr int kStartTimeoutMs = 3 * 60 * 1000;
constexpr int kRequestTimeoutMs = 10000;
constexpr int kKeyTimeoutMs = 2000;
// How long a clipboard transfer from or to another program may take.
constexpr int kTransferTimeoutMs = 2000;
// Without the session's clipboard another program's copy cannot be seen
// while it has the focus: a copy keystroke is given this long.
constexpr std::uint64_t kUnseenCopyMs = 500;
constexpr std::string_view kFocusedWindowTitle = "(focused window)";

QVariantMap options_of(const QVariant& value) {
    if (value.canConvert<QDBusArgument>()) return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

std::vector<std::string> to_strings(const QStringList& list) {
    std::vector<std::string> out;
    for (const QString& s : list) out.push_back(s.toStdString());
    return out;
}

// Takes the descriptor a reply carries for itself, so that once the reply
// is gone this is the only copy: the other end sees the end of the data
// exactly when it is closed here.
int take_fd(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return -1;
    const QDBusUnixFileDescriptor fd = reply.arguments().first().value<QDBusUnixFileDescriptor>();
    if (!fd.isValid()) return -1;
    return ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}

// Reads to the end of the data, letting events run meanwhile; nullopt when
// the other side took too long or failed.
std::optional<std::string> read_all(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::string data;
    char buffer[16384];
    const std::uint64_t deadline = monotonic_ms() + kTransferTimeoutMs;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            data.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) break;
        if (errno == EINTR) continue;
        if (errno != EAGAIN || monotonic_ms() >= deadline) {
            secure_zero(buffer, sizeof buffer);
            wipe_string(data);
            ::close(fd);
            return std::nullopt;
        }
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 10);
        QCoreApplication::processEvents();
    }
    secure_zero(buffer, sizeof buffer);
    ::close(fd);
    return data;
}

bool write_all(int fd, std::string_view bytes) {
    const std::uint64_t deadline = monotonic_ms() + kTransferTimeoutMs;
    std::size_t put = 0;
    while (put < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + put, bytes.size() - put);
        if (n > 0) {
            put += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if ((n < 0 && errno != EAGAIN) || monotonic_ms() >= deadline) return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
    return true;
}

}  // namespace

// The clipboard of the remote-desktop session where it runs, Qt's otherwise.
class PortalClipboard final : public QObject, public ClipboardAccess {
public:
    PortalClipboard(PortalDesktop& desktop, std::unique_ptr<ClipboardAccess> fallback)
        : desktop_(desktop), fallback_(std::move(fallback)) {
        // Qt sees the clipboard on Wayland only while a window of ours has
        // the focus, and a request reads it after its password dialog has
        // closed: what it held while we had the focus is kept for that read.
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] { remember(); });
            connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* w) {
                if (w) remember();
            });
        }
    }
    ~PortalClipboard() override { forget(); }

    void open() override {
        if (held_) throw EClipboardError();
        held_ = true;
        portal_ = desktop_.session_clipboard();
        if (!portal_) {
            try {
                fallback_->open();
            } catch (...) {
                held_ = false;
                throw;
            }
        }
    }

    void close() override {
        if (!portal_ && held_) fallback_->close();
        held_ = false;
    }

    std::vector<std::string> formats() override {
        if (!use_portal()) {
            std::vector<std::string> formats = fallback_->formats();
            if (formats.empty() && !our_window_has_focus())
                for (const auto& [format, bytes] : remembered_) formats.push_back(format);
            return formats;
        }
        if (desktop_.owner_) {
            std::vector<std::string> mimes;
            for (const auto& [mime, bytes] : desktop_.served_) mimes.push_back(mime);
            return program_formats(mimes);
        }
        if (!desktop_.offered_known_) return {std::string(kPlainTextFormat)};
        return program_formats(desktop_.offered_);
    }

    std::optional<std::string> get(std::string_view format) override {
        if (!use_portal()) {
            std::optional<std::string> bytes = fallback_->get(format);
            if ((!bytes || bytes->empty()) && !our_window_has_focus()) {
                const auto it = remembered_.find(std::string(format));
                if (it != remembered_.end()) return it->second;
            }
            return bytes;
        }
        std::optional<std::string> bytes;
        std::optional<std::string> mime;
        if (desktop_.owner_) {
            std::vector<std::string> mimes;
            for (const auto& [m, b] : desktop_.served_) mimes.push_back(m);
            mime = mime_to_read(format, mimes);
            if (mime) bytes = desktop_.served_[*mime];
        } else {
            // Before the desktop has said what the clipboard holds, text is
            // asked for under its usual name.
            const std::vector<std::string> guess = {"text/plain;charset=utf-8", "text/plain"};
            mime = mime_to_read(format, desktop_.offered_known_ ? desktop_.offered_ : guess);
            if (mime) {
                bytes = desktop_.read_selection(*mime);
                if (!bytes && desktop_.offered_known_) throw EClipboardError();
            }
        }
        if (!bytes || format != kPlainTextFormat) return bytes;
        return program_text(*bytes, *mime);
    }

    void set(std::string_view format, std::string_view bytes, bool secret) override {
        if (!use_portal()) {
            desktop_.set_at_ms_ = monotonic_ms();
            // Emptying the clipboard before a copy keystroke tells nothing
            // here, where another program's copy cannot be seen; and written
            // without the focus, the desktop refuses it while Qt goes on
            // showing it as ours, which would hide that copy from us.
            if (bytes.empty() && !our_window_has_focus()) return;
            // What we write is ours to read back; nothing older may stand in.
            forget();
            fallback_->set(format, bytes, secret);
            desktop_.qt_changes_at_set_ = desktop_.qt_changes_;
            return;
        }
        std::map<std::string, std::string> served;
        std::string payload = format == kPlainTextFormat ? lf_line_ends(bytes) : std::string(bytes);
        for (const std::string& mime : mimes_to_offer(format)) served[mime] = payload;
        wipe_string(payload);
        if (secret) served[kSecretHintFormat] = "secret";
        desktop_.set_selection(std::move(served));
    }

private:
    bool use_portal() const { return held_ ? portal_ : desktop_.session_clipboard(); }

    void remember() {
        if (!our_window_has_focus() || held_ || desktop_.session_clipboard()) return;
        std::map<std::string, std::string> now;
        try {
            fallback_->open();
            for (const std::string& format : fallback_->formats())
                if (std::optional<std::string> bytes = fallback_->get(format); bytes && !bytes->empty())
                    now[format] = std::move(*bytes);
            fallback_->close();
        } catch (...) {
            fallback_->close();
            return;
        }
        // Losing the focus empties Qt's view of the clipboard: that is no
        // news about its content.
        if (now.empty()) return;
        forget();
        remembered_ = std::move(now);
    }
    void forget() {
        for (auto& [format, bytes] : remembered_) wipe_string(bytes);
        remembered_.clear();
    }

    PortalDesktop& desktop_;
    std::unique_ptr<ClipboardAccess> fallback_;
    bool held_ = false;
    bool portal_ = false;
    std::map<std::string, std::string> remembered_;
};

PortalDesktop::PortalDesktop(QDBusConnection bus, PortalVersions versions, std::string token_path,
                             PortalShortcuts* shortcuts)
    : bus_(bus), versions_(versions), token_path_(std::move(token_path)), shortcuts_(shortcuts) {
    register_portal_types();
    idle_.setSingleShot(true);
    connect(&idle_, &QTimer::timeout, this, &PortalDesktop::idle_timeout);
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] { ++qt_changes_; });
}

PortalDesktop::~PortalDesktop() { end_session(); }

std::unique_ptr<ClipboardAccess> PortalDesktop::clipboard_over(std::unique_ptr<ClipboardAccess> fallback) {
    return std::make_unique<PortalClipboard>(*this, std::move(fallback));
}

// ---------------------------------------------------------------------------
// The remote-desktop session

bool PortalDesktop::prepare_keystrokes() {
    if (session_running()) {
        touch();
        return true;
    }
    if (starting_) return false;
    starting_ = true;
    const bool started = start_session();
    starting_ = false;
    return started;
}

bool PortalDesktop::start_session() {
    const std::string token = new_portal_token("remote");
    const PortalResponse created =
        portal_request(bus_, kRemoteDesktopInterface, QStringLiteral("CreateSession"),
                       {QVariantMap{{QStringLiteral("session_handle_token"), QString::fromStdString(token)}}},
                       kRequestTimeoutMs);
    if (!created.ok()) return false;
    QString session = created.results.value(QStringLiteral("session_handle")).toString();
    if (session.isEmpty()) session = QString::fromStdString(session_path(bus_.baseService().toStdString(), token));
    const QDBusObjectPath handle(session);
    bus_.connect(kPortalService, session, kSessionInterface, QStringLiteral("Closed"), this,
                 SLOT(onSessionClosed(QDBusMessage)));

    const auto fail = [&] {
        bus_.disconnect(kPortalService, session, kSessionInterface, QStringLiteral("Closed"), this,
                        SLOT(onSessionClosed(QDBusMessage)));
        close_portal_session(bus_, session);
        return false;
    };

    // The clipboard must be asked for before the session starts.
    bool clipboard_asked = false;
    if (versions_.clipboard >= kMinClipboard) {
        QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kClipboardInterface,
                                                          QStringLiteral("RequestClipboard"));
        call << QVariant::fromValue(handle) << QVariantMap();
        clipboard_asked = bus_.call(call, QDBus::BlockWithGui, kRequestTimeoutMs).type() == QDBusMessage::ReplyMessage;
    }

    QVariantMap select{{QStringLiteral("types"), QVariant::fromValue(kKeyboardDevice)},
                       {QStringLiteral("persist_mode"), QVariant::fromValue(2u)}};
    if (std::optional<std::string> saved = read_restore_token(token_path_)) {
        select.insert(QStringLiteral("restore_token"), QString::fromStdString(*saved));
        wipe_string(*saved);
    }
    const PortalResponse selected = portal_request(bus_, kRemoteDesktopInterface, QStringLiteral("SelectDevices"),
                                                   {QVariant::fromValue(handle), select}, kRequestTimeoutMs);
    if (!selected.ok()) return fail();

    const PortalResponse started = portal_request(bus_, kRemoteDesktopInterface, QStringLiteral("Start"),
                                                  {QVariant::fromValue(handle), QString(), QVariantMap()},
                                                  kStartTimeoutMs);
    // A token is good for one start: the one sent is spent either way, and
    // the desktop hands out the next.
    std::string next = started.results.value(QStringLiteral("restore_token")).toString().toStdString();
    write_restore_token(token_path_, next);
    wipe_string(next);
    if (!started.ok()) return fail();
    const uint devices = started.results.value(QStringLiteral("devices")).toUInt();
    if (!(devices & kKeyboardDevice)) return fail();

    session_ = session;
    clipboard_enabled_ = clipboard_asked && started.results.value(QStringLiteral("clipboard_enabled"), true).toBool();
    owner_ = false;
    offered_known_ = false;
    if (clipboard_enabled_) {
        bus_.connect(kPortalService, kPortalPath, kClipboardInterface, QStringLiteral("SelectionOwnerChanged"), this,
                     SLOT(onSelectionOwnerChanged(QDBusMessage)));
        bus_.connect(kPortalService, kPortalPath, kClipboardInterface, QStringLiteral("SelectionTransfer"), this,
                     SLOT(onSelectionTransfer(QDBusMessage)));
    }
    touch();
    return true;
}

void PortalDesktop::end_session() {
    idle_.stop();
    if (session_.isEmpty()) return;
    // Keys still down would stay down on the desktop.
    for (const unsigned key : std::set<unsigned>(down_)) key_event(key, false);
    bus_.disconnect(kPortalService, session_, kSessionInterface, QStringLiteral("Closed"), this,
                    SLOT(onSessionClosed(QDBusMessage)));
    if (clipboard_enabled_) {
        bus_.disconnect(kPortalService, kPortalPath, kClipboardInterface, QStringLiteral("SelectionOwnerChanged"),
                        this, SLOT(onSelectionOwnerChanged(QDBusMessage)));
        bus_.disconnect(kPortalService, kPortalPath, kClipboardInterface, QStringLiteral("SelectionTransfer"), this,
                        SLOT(onSelectionTransfer(QDBusMessage)));
    }
    close_portal_session(bus_, session_);
    forget_session();
}

void PortalDesktop::forget_session() {
    idle_.stop();
    session_.clear();
    clipboard_enabled_ = false;
    down_.clear();
    owner_ = false;
    for (auto& [mime, bytes] : served_) wipe_string(bytes);
    served_.clear();
}

void PortalDesktop::touch() { idle_.start(kIdleCloseMs); }

void PortalDesktop::idle_timeout() {
    // What the session put on the clipboard lives as long as the session:
    // it stays open until another program has taken the clipboard.
    if (owner_) {
        touch();
        return;
    }
    end_session();
}

void PortalDesktop::onSessionClosed(const QDBusMessage&) {
    // The desktop (or the user, at its indicator) ended the session.
    forget_session();
}

// ---------------------------------------------------------------------------
// The session's clipboard

void PortalDesktop::onSelectionOwnerChanged(const QDBusMessage& signal) {
    const QVariantList args = signal.arguments();
    if (args.size() < 2 || args.at(0).value<QDBusObjectPath>().path() != session_) return;
    const QVariantMap options = options_of(args.at(1));
    const bool ours = options.value(QStringLiteral("session_is_owner")).toBool();
    if (ours) return;
    owner_ = false;
    taken_since_set_ = true;
    offered_ = to_strings(options.value(QStringLiteral("mime_types")).toStringList());
    offered_known_ = true;
}

void PortalDesktop::onSelectionTransfer(const QDBusMessage& signal) {
    const QVariantList args = signal.arguments();
    if (args.size() < 3 || args.at(0).value<QDBusObjectPath>().path() != session_) return;
    const std::string mime = args.at(1).toString().toStdString();
    const uint serial = args.at(2).toUInt();
    touch();
    int fd = -1;
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kClipboardInterface,
                                                          QStringLiteral("SelectionWrite"));
        call << QVariant::fromValue(QDBusObjectPath(session_)) << serial;
        fd = take_fd(bus_.call(call, QDBus::Block, kRequestTimeoutMs));
    }
    bool ok = false;
    if (fd >= 0) {
        const auto it = served_.find(mime);
        ok = it != served_.end() && write_all(fd, it->second);
        ok = ::close(fd) == 0 && ok;
    }
    QDBusMessage done = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kClipboardInterface,
                                                      QStringLiteral("SelectionWriteDone"));
    done << QVariant::fromValue(QDBusObjectPath(session_)) << serial << ok;
    bus_.call(done, QDBus::NoBlock);
}

std::optional<std::string> PortalDesktop::read_selection(const std::string& mime) {
    touch();
    int fd = -1;
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kClipboardInterface,
                                                          QStringLiteral("SelectionRead"));
        call << QVariant::fromValue(QDBusObjectPath(session_)) << QString::fromStdString(mime);
        fd = take_fd(bus_.call(call, QDBus::BlockWithGui, kRequestTimeoutMs));
    }
    if (fd < 0) return std::nullopt;
    return read_all(fd);
}

void PortalDesktop::set_selection(std::map<std::string, std::string> served) {
    touch();
    QStringList mimes;
    for (const auto& [mime, bytes] : served) mimes << QString::fromStdString(mime);
    for (auto& [mime, bytes] : served_) wipe_string(bytes);
    served_ = std::move(served);
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kClipboardInterface,
                                                      QStringLiteral("SetSelection"));
    call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap{{QStringLiteral("mime_types"), mimes}};
    const QDBusMessage reply = bus_.call(call, QDBus::BlockWithGui, kRequestTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        for (auto& [mime, bytes] : served_) wipe_string(bytes);
        served_.clear();
        throw EClipboardError();
    }
    owner_ = true;
    taken_since_set_ = false;
}

bool PortalDesktop::clipboard_taken() {
    QCoreApplication::processEvents();
    if (session_clipboard()) return taken_since_set_;
    return qt_changes_ > qt_changes_at_set_ || monotonic_ms() - set_at_ms_ >= kUnseenCopyMs;
}

// ---------------------------------------------------------------------------
// WindowSystem: windows. The portals name no windows: the one with the
// focus stands for the source.

WindowId PortalDesktop::foreground_window() { return our_window_has_focus() ? kOwnFocusedWindow : kFocusedWindow; }

std::string PortalDesktop::window_title(WindowId window) {
    return window == kFocusedWindow || window == kOwnFocusedWindow ? std::string(kFocusedWindowTitle) : std::string();
}

void PortalDesktop::set_window_title(WindowId, std::string_view) {}

bool PortalDesktop::is_window(WindowId window) { return window == kFocusedWindow || window == kOwnFocusedWindow; }

bool PortalDesktop::own_window(WindowId window) {
    if (window == kOwnFocusedWindow) return true;
    return window == kFocusedWindow && our_window_has_focus();
}

bool PortalDesktop::desktop_part(WindowId) { return false; }

void PortalDesktop::activate(WindowId) {
    // No portal lets a program raise another's window; when our dialog
    // closes the desktop gives the focus back by itself.
}

void PortalDesktop::restore(WindowId) {}

std::vector<WindowId> PortalDesktop::client_windows() { return {}; }

std::int64_t PortalDesktop::window_process(WindowId) { return 0; }

std::string PortalDesktop::process_program_file(std::int64_t pid) { return process_program_file_of(pid); }

std::string PortalDesktop::find_program(std::string_view name) { return resolve_program(name); }

std::int64_t PortalDesktop::start_process(const std::vector<std::string>& argv) {
    return start_detached(argv);
}

// ---------------------------------------------------------------------------
// WindowSystem: keyboard

KeyStroke PortalDesktop::key_for_vk(std::uint8_t vk) { return {vk_keysym(vk), false}; }

KeyStroke PortalDesktop::key_for_char(char c) { return {char_keysym(static_cast<unsigned char>(c)), false}; }

void PortalDesktop::key_event(unsigned key, bool down) {
    if (key == 0 || session_.isEmpty()) return;
    // A release of a key this session never pressed (the keystroke strings
    // begin by releasing every modifier) means nothing to the desktop.
    if (down_.count(key) == (down ? 1u : 0u)) return;
    if (down) down_.insert(key);
    else down_.erase(key);
    touch();
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kRemoteDesktopInterface,
                                                      QStringLiteral("NotifyKeyboardKeysym"));
    call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap() << static_cast<int>(key)
         << static_cast<uint>(down ? 1 : 0);
    bus_.call(call, QDBus::Block, kKeyTimeoutMs);
}

bool PortalDesktop::modifiers_held() {
    // The desktop shares the user's modifiers with the session's keyboard:
    // keys typed while the shortcut is still held would combine with it.
    return shortcuts_ && shortcuts_->shortcut_held();
}

std::uint64_t PortalDesktop::tick_ms() { return monotonic_ms(); }

void PortalDesktop::wait(int ms) { run_events_for(ms); }

}  // namespace morvantile::platform
