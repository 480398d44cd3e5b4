// The desktop portals over D-Bus: the shortcut list type, the version
// probe, and the request pattern every portal call follows (call with a
// handle token, then wait for the Response signal on the request object).
#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include "platform/portal/portal_names.h"

namespace morvantile::platform {

inline const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString kGlobalShortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
inline const QString kRemoteDesktopInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
inline const QString kClipboardInterface = QStringLiteral("org.freedesktop.portal.Clipboard");
inline const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
inline const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// a(sa{sv}): shortcut ids, each with its properties.
using PortalShortcutList = QList<QPair<QString, QVariantMap>>;

// Makes the list type known to Qt D-Bus; call before the first call that
// carries one. Safe to call again.
void register_portal_types();

// The versions the portal service on `bus` offers; each interface's
// `version` property is read, never assumed. Blocking, with short timeouts.
PortalVersions probe_portal_versions(const QDBusConnection& bus);
// The same on a connection of its own, closed again: usable before the
// application object exists.
PortalVersions probe_portals();

// How a request ended.
struct PortalResponse {
    enum class Outcome { Answered, Failed, TimedOut } outcome = Outcome::Failed;
    // 0 success, 1 the user cancelled, 2 ended otherwise.
    unsigned response = 2;
    QVariantMap results;
    QString error;  // why the call failed, for a failed call
    bool ok() const { return outcome == Outcome::Answered && response == 0; }
};

// Calls `method` of `interface` with `arguments`, the last of which is the
// options map: the handle token is put into it, the Response is awaited
// (the event loop keeps turning meanwhile) for at most `timeout_ms`.
PortalResponse portal_request(QDBusConnection bus, const QString& interface, const QString& method,
                              QVariantList arguments, int timeout_ms);

// Closes a portal session; nothing happens for an empty path.
void close_portal_session(QDBusConnection bus, const QString& session);

// Waits for one Response signal on a request object.
class ResponseWaiter final : public QObject {
    Q_OBJECT
public:
    bool answered = false;
    unsigned response = 2;
    QVariantMap results;
public slots:
    void onResponse(uint response, const QVariantMap& results);
signals:
    void done();
};

}  // namespace morvantile::platform

Q_DECLARE_METATYPE(morvantile::platform::PortalShortcutList)
