#include "platform/portal/portal_dbus.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>
#include <QtGlobal>

namespace morvantile::platform {

namespace {

// A portal that is there answers a property read at once; one that is not
// must not hold up the start.
constexpr int kProbeTimeoutMs = 3000;
constexpr int kCallTimeoutMs = 10000;

std::uint32_t read_u32_property(const QDBusConnection& bus, const QString& interface, const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << interface << name;
    const QDBusMessage reply = bus.call(get, QDBus::Block, kProbeTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return 0;
    const QVariant value = reply.arguments().first().value<QDBusVariant>().variant();
    bool ok = false;
    const uint number = value.toUInt(&ok);
    return ok ? number : 0;
}

}  // namespace

void ResponseWaiter::onResponse(uint code, const QVariantMap& map) {
    answered = true;
    response = code;
    results = map;
    emit done();
}

void register_portal_types() {
    static const bool registered = [] {
        qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
        qDBusRegisterMetaType<PortalShortcutList>();
        return true;
    }();
    (void)registered;
}

PortalVersions probe_portal_versions(const QDBusConnection& bus) {
    PortalVersions v;
    if (!bus.isConnected()) return v;
    v.bus = true;
    QDBusConnectionInterface* names = bus.interface();
    if (!names) return v;
    // A service the bus would start on demand counts as there.
    const QDBusReply<bool> owned = names->isServiceRegistered(kPortalService);
    bool there = owned.isValid() && owned.value();
    if (!there) {
        const QDBusReply<QStringList> activatable = names->call(QStringLiteral("ListActivatableNames"));
        there = activatable.isValid() && activatable.value().contains(kPortalService);
    }
    if (!there) return v;
    v.service = true;
    v.global_shortcuts = read_u32_property(bus, kGlobalShortcutsInterface, QStringLiteral("version"));
    v.remote_desktop = read_u32_property(bus, kRemoteDesktopInterface, QStringLiteral("version"));
    if (v.remote_desktop != 0)
        v.remote_desktop_devices = read_u32_property(bus, kRemoteDesktopInterface, QStringLiteral("AvailableDeviceTypes"));
    v.clipboard = read_u32_property(bus, kClipboardInterface, QStringLiteral("version"));
    return v;
}

PortalVersions probe_portals() {
    const QString name = QStringLiteral("morvantile-portal-probe");
    PortalVersions v;
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        v = probe_portal_versions(bus);
    }
    QDBusConnection::disconnectFromBus(name);
    return v;
}

PortalResponse portal_request(QDBusConnection bus, const QString& interface, const QString& method,
                              QVariantList arguments, int timeout_ms) {
    PortalResponse out;
    if (!bus.isConnected() || arguments.isEmpty()) {
        out.error = QStringLiteral("no session bus");
        return out;
    }
    const std::string token = new_portal_token(method.toStdString());
    QVariantMap options = arguments.last().toMap();
    options.insert(QStringLiteral("handle_token"), QString::fromStdString(token));
    arguments.last() = options;

    // Subscribed before the call, so that an answer that comes at once is
    // not missed.
    ResponseWaiter waiter;
    QString path = QString::fromStdString(request_path(bus.baseService().toStdString(), token));
    const auto subscribe = [&](const QString& at) {
        return bus.connect(kPortalService, at, kRequestInterface, QStringLiteral("Response"), &waiter,
                           SLOT(onResponse(uint, QVariantMap)));
    };
    const auto unsubscribe = [&](const QString& at) {
        bus.disconnect(kPortalService, at, kRequestInterface, QStringLiteral("Response"), &waiter,
                       SLOT(onResponse(uint, QVariantMap)));
    };
    subscribe(path);

    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, interface, method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus.call(call, QDBus::BlockWithGui, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        unsubscribe(path);
        out.error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        return out;
    }
    // Portals older than the handle token answer on a path of their own.
    if (!reply.arguments().isEmpty()) {
        const QString handle = reply.arguments().first().value<QDBusObjectPath>().path();
        if (!handle.isEmpty() && handle != path) {
            unsubscribe(path);
            path = handle;
            subscribe(path);
        }
    }
    if (!waiter.answered) {
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&waiter, &ResponseWaiter::done, &loop, &QEventLoop::quit);
        deadline.start(timeout_ms);
        loop.exec();
    }
    unsubscribe(path);
    if (!waiter.answered) {
        out.outcome = PortalResponse::Outcome::TimedOut;
        out.error = QStringLiteral("no answer");
        // The desktop may still be asking the user: that question goes.
        QDBusMessage close = QDBusMessage::createMethodCall(kPortalService, path, kRequestInterface,
                                                           QStringLiteral("Close"));
        bus.call(close, QDBus::NoBlock);
        return out;
    }
    out.outcome = PortalResponse::Outcome::Answered;
    out.response = waiter.response;
    out.results = waiter.results;
    return out;
}

void close_portal_session(QDBusConnection bus, const QString& session) {
    if (session.isEmpty() || !bus.isConnected()) return;
    QDBusMessage close = QDBusMessage::createMethodCall(kPortalService, session, kSessionInterface,
                                                       QStringLiteral("Close"));
    bus.call(close, QDBus::NoBlock);
}

}  // namespace morvantile::platform
