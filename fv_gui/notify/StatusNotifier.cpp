#include "fv_gui/notify/StatusNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>

namespace fv::notify {

bool StatusNotifierHostPresent() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    const QString watcher = QString::fromLatin1(kStatusNotifierWatcherService);
    if (!bus.interface()->isServiceRegistered(watcher)) return false;
    QDBusInterface properties(watcher, QString::fromLatin1(kStatusNotifierWatcherPath),
                              QStringLiteral("org.freedesktop.DBus.Properties"), bus);
    const QDBusReply<QDBusVariant> reply =
        properties.call(QStringLiteral("Get"), watcher, QStringLiteral("IsStatusNotifierHostRegistered"));
    return reply.isValid() && reply.value().variant().toBool();
}

}  // namespace fv::notify
