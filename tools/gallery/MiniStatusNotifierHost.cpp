#include "tools/gallery/MiniStatusNotifierHost.h"

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include "fv_gui/notify/StatusNotifier.h"

namespace fv::gallery {
namespace {

constexpr char kConnectionName[] = "fv-mini-status-notifier-host";

}  // namespace

// The watcher's interface as items and hosts see it.
class WatcherAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
public:
    WatcherAdaptor(QObject* watcher, MiniStatusNotifierHost* host) : QDBusAbstractAdaptor(watcher), host_(host) {}
    bool IsStatusNotifierHostRegistered() const { return true; }
    QStringList RegisteredStatusNotifierItems() const { return host_->Items(); }
    int ProtocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message) {
        host_->AddItem(service, message.service());
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    MiniStatusNotifierHost* host_;
};

MiniStatusNotifierHost::MiniStatusNotifierHost()
    : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QString::fromLatin1(kConnectionName))) {
    if (!bus_.isConnected()) return;
    watcher_ = new QObject;
    new WatcherAdaptor(watcher_, this);
    watcher_->moveToThread(&thread_);
    // It goes on its own thread, where the bus relays its signals from.
    connect(&thread_, &QThread::finished, watcher_, &QObject::deleteLater);
    thread_.start();
    registered_ = bus_.registerObject(QString::fromLatin1(notify::kStatusNotifierWatcherPath), watcher_,
                                      QDBusConnection::ExportAdaptors) &&
                  bus_.registerService(QString::fromLatin1(notify::kStatusNotifierWatcherService));
}

MiniStatusNotifierHost::~MiniStatusNotifierHost() {
    if (watcher_) {
        (void)bus_.unregisterService(QString::fromLatin1(notify::kStatusNotifierWatcherService));
        bus_.unregisterObject(QString::fromLatin1(notify::kStatusNotifierWatcherPath));
        thread_.quit();
        thread_.wait();
    }
    QDBusConnection::disconnectFromBus(QString::fromLatin1(kConnectionName));
}

QStringList MiniStatusNotifierHost::Items() const {
    std::lock_guard lock(mutex_);
    QStringList services;
    for (const Item& item : items_) services << item.service;
    return services;
}

void MiniStatusNotifierHost::AddItem(const QString& serviceOrPath, const QString& sender) {
    // Some items register an object path on their own connection instead of a service name.
    Item item;
    if (serviceOrPath.startsWith(QLatin1Char('/'))) {
        item = {sender, serviceOrPath};
    } else {
        item = {serviceOrPath, QString::fromLatin1(notify::kStatusNotifierItemPath)};
    }
    {
        std::lock_guard lock(mutex_);
        for (const Item& known : items_) {
            if (known.service == item.service) return;
        }
        items_.push_back(item);
    }
    emit ItemRegistered(item.service);
}

bool MiniStatusNotifierHost::Find(const QString& service, Item& found) const {
    std::lock_guard lock(mutex_);
    for (const Item& item : items_) {
        if (item.service == service) {
            found = item;
            return true;
        }
    }
    return false;
}

void MiniStatusNotifierHost::Call(const QString& service, const char* method, QPoint at) {
    Item item;
    if (!Find(service, item)) return;
    QDBusMessage call = QDBusMessage::createMethodCall(item.service, item.path,
                                                       QString::fromLatin1(notify::kStatusNotifierItemInterface),
                                                       QString::fromLatin1(method));
    call << at.x() << at.y();
    // Never a blocking call: the item may live on this very thread.
    (void)bus_.asyncCall(call);
}

void MiniStatusNotifierHost::Activate(const QString& service, QPoint at) { Call(service, "Activate", at); }

void MiniStatusNotifierHost::ContextMenu(const QString& service, QPoint at) { Call(service, "ContextMenu", at); }

void MiniStatusNotifierHost::FetchIcon(const QString& service, std::function<void(QImage)> done) {
    Item item;
    if (!Find(service, item)) return;
    QDBusMessage get = QDBusMessage::createMethodCall(item.service, item.path,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QString::fromLatin1(notify::kStatusNotifierItemInterface) << QStringLiteral("IconPixmap");
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [done = std::move(done)](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        QImage best;
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (reply.isValid()) {
            // a(iiay): width, height and ARGB32 in network byte order, one per size.
            const auto argument = reply.value().variant().value<QDBusArgument>();
            argument.beginArray();
            while (!argument.atEnd()) {
                int width = 0, height = 0;
                QByteArray bytes;
                argument.beginStructure();
                argument >> width >> height >> bytes;
                argument.endStructure();
                if (width <= 0 || height <= 0 || bytes.size() < qsizetype(width) * height * 4) continue;
                if (width * height <= best.width() * best.height()) continue;
                QImage image(width, height, QImage::Format_ARGB32);
                for (int y = 0; y < height; ++y) {
                    for (int x = 0; x < width; ++x) {
                        const auto* p = reinterpret_cast<const uchar*>(bytes.constData()) + (qsizetype(y) * width + x) * 4;
                        image.setPixel(x, y, qRgba(p[1], p[2], p[3], p[0]));
                    }
                }
                best = image;
            }
            argument.endArray();
        }
        done(best);
    });
}

}  // namespace fv::gallery

#include "MiniStatusNotifierHost.moc"
