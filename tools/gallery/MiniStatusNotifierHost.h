// A StatusNotifier watcher and host of a few lines, on a connection of its own to the session
// bus: what GNOME's AppIndicator extension or KDE's panel is to a program's tray icon. Items
// register with it; it calls their Activate and ContextMenu as a panel does on a left and a
// right click, and fetches their pictures. For the gallery and the tests of the tray icon.
// The watcher answers on a thread of its own: Qt asks it with blocking calls from the thread
// that shows the tray icon.
#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>
#include <mutex>
#include <vector>

namespace fv::gallery {

class MiniStatusNotifierHost : public QObject {
    Q_OBJECT
public:
    MiniStatusNotifierHost();
    ~MiniStatusNotifierHost() override;

    // False when there is no session bus or another watcher owns the name.
    [[nodiscard]] bool Registered() const { return registered_; }
    // The services of the items registered so far.
    [[nodiscard]] QStringList Items() const;

    // A panel's left click and right click on the item.
    void Activate(const QString& service, QPoint at);
    void ContextMenu(const QString& service, QPoint at);
    // The item's largest picture (IconPixmap), handed over once it arrives; null if it has none.
    void FetchIcon(const QString& service, std::function<void(QImage)> done);

    // Called by the watcher's D-Bus interface, on its thread.
    void AddItem(const QString& serviceOrPath, const QString& sender);

signals:
    void ItemRegistered(const QString& service);

private:
    struct Item {
        QString service;
        QString path;
    };
    bool Find(const QString& service, Item& found) const;
    void Call(const QString& service, const char* method, QPoint at);

    QDBusConnection bus_;
    QThread thread_;
    QObject* watcher_ = nullptr;  // lives on thread_
    bool registered_ = false;
    mutable std::mutex mutex_;
    std::vector<Item> items_;
};

}  // namespace fv::gallery
